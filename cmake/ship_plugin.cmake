# Copies a linked plug-in DLL to where it ships, without symbols or debug
# information, and says how large the shipped file is.
#   cmake -DOBJCOPY=... -DIN=build/.../NAME.spi -DOUT=dist/.../NAME.spi -P ship_plugin.cmake
get_filename_component(out_dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${out_dir})
# objcopy stamps the PE header with the clock unless SOURCE_DATE_EPOCH names a
# time; 0 is what the linker wrote (--no-insert-timestamp), so two builds of
# one commit ship the same bytes.
set(ENV{SOURCE_DATE_EPOCH} 0)
execute_process(COMMAND ${OBJCOPY} --strip-all ${IN} ${OUT} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJCOPY} --strip-all ${IN} failed")
endif()
file(SIZE ${OUT} size)
get_filename_component(name ${OUT} NAME)
message("${name}: ${size} bytes")
