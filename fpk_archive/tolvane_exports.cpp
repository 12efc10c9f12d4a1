// The archive plug-in's exports, each 8-bit one beside its wide sibling:
// information and probe here, listing in fpk_listing.cpp, extraction in
// fpk_extract.cpp.
#include "fpk_extract.h"
#include "fpk_format.h"
#include "fpk_listing.h"
#include "plugin_info.h"
#include "source.h"
#include "tolvane_info.h"

namespace {

const char *const TOLVANE_INFO[] = {
    "00AM",
    TOLVANE_DESCRIPTION,
    "*.fpk",
    "MORRAKETH Archive (*.FPK)",
    nullptr,
};

// A large archive is judged by the entries that fit in the probe's 2048 bytes.
// The file name is not looked at.
int32_t fpk_is_supported(void *probe) {
    SourceStream s;
    uint8_t start[PROBE_BUFFER_SIZE];
    int supported = 0;
    if (!source_open_probe(&s, probe)) goto done;
    if (!source_read(&s, start, sizeof start)) goto done;
    supported = fpk_directory_probe(&s, start, FPK_PROBE_ENTRIES);
done:
    // A host handle whose position cannot be put back is a failed probe too.
    if (!source_close(&s)) supported = 0;
    return supported;
}

}  // namespace

SPI_EXPORT int32_t WINAPI GetPluginInfo(int32_t infono, char *buf, int32_t buflen) {
    return plugin_info_copy(TOLVANE_INFO, infono, buf, buflen, 0);
}

SPI_EXPORT int32_t WINAPI GetPluginInfoW(int32_t infono, char16_t *buf, int32_t buflen) {
    return plugin_info_copy(TOLVANE_INFO, infono, buf, buflen, 1);
}

SPI_EXPORT int32_t WINAPI IsSupported(const char *filename, void *probe) {
    (void)filename;
    return fpk_is_supported(probe);
}

SPI_EXPORT int32_t WINAPI IsSupportedW(const char16_t *filename, void *probe) {
    (void)filename;
    return fpk_is_supported(probe);
}

SPI_EXPORT int32_t WINAPI GetArchiveInfo(const char *buf, LONG_PTR len, uint32_t flag,
                                         HLOCAL *info) {
    return fpk_list_members(host_input_narrow(buf), len, flag, info);
}

SPI_EXPORT int32_t WINAPI GetArchiveInfoW(const char16_t *buf, LONG_PTR len, uint32_t flag,
                                          HLOCAL *info) {
    return fpk_list_members(host_input_wide(buf), len, flag, info);
}

SPI_EXPORT int32_t WINAPI GetFileInfo(const char *buf, LONG_PTR len, const char *filename,
                                      uint32_t flag, FileInfoRecord *record) {
    return fpk_find_member(host_input_narrow(buf), len, host_input_narrow(filename), flag, record);
}

SPI_EXPORT int32_t WINAPI GetFileInfoW(const char16_t *buf, LONG_PTR len,
                                       const char16_t *filename, uint32_t flag,
                                       FileInfoRecordW *record) {
    return fpk_find_member(host_input_wide(buf), len, host_input_wide(filename), flag, record);
}

SPI_EXPORT int32_t WINAPI GetFile(const char *src, LONG_PTR len, char *dest, uint32_t flag,
                                  ProgressCallback progress, LONG_PTR user) {
    return fpk_get_member(host_input_narrow(src), len, host_input_narrow(dest), flag, progress,
                          user);
}

SPI_EXPORT int32_t WINAPI GetFileW(const char16_t *src, LONG_PTR len, char16_t *dest,
                                   uint32_t flag, ProgressCallback progress, LONG_PTR user) {
    return fpk_get_member(host_input_wide(src), len, host_input_wide(dest), flag, progress, user);
}
