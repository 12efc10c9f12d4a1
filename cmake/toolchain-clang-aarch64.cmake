# Cross build for Windows on ARM64 with Debian's LLVM: the .spha plug-ins that
# ARM64 viewers load. mingw-w64's headers know ARM64, but Debian ships no
# ARM64 libraries for it: no C runtime, no C++ library, no import libraries.
# This build therefore makes only what needs none of them, the plug-ins and
# the small test host, and makes its import libraries itself (cmake/arm64/).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET aarch64-w64-mingw32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET aarch64-w64-mingw32)
# The headers and nothing else: no Linux header may stand in for a Windows one.
set(CMAKE_SYSROOT /usr/share/mingw-w64)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)
# Without a C runtime no test program links while CMake checks the compiler.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# GNU windres writes the version resource as a .res file, which lld links for
# any machine (see SPI_WINDOWS_ARM64 in CMakeLists.txt).
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_OBJCOPY llvm-objcopy CACHE FILEPATH "Strips the shipped plug-ins")
set(SPI_DLLTOOL llvm-dlltool CACHE FILEPATH "Makes the ARM64 import libraries")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# Links name their libraries themselves: CMake's default list of Windows
# libraries has no ARM64 import library here.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "Libraries every C program links")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "Libraries every C++ program links")
