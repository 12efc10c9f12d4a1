// The archive plug-in's information table, GetPluginInfo and IsSupported.
#include "fpk_format.h"
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
    supported = check_fpk_directory(&s, start, FPK_PROBE_ENTRIES);
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
