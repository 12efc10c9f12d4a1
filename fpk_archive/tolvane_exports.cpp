#include "plugin_info.h"
#include "source.h"

static const char *const TOLVANE_INFO[] = {"00AM", "x", "*.fpk", "MORRAKETH Archive (*.FPK)", nullptr};

SPI_EXPORT int32_t WINAPI GetPluginInfo(int32_t infono, char *buf, int32_t buflen) {
    return plugin_info_copy(TOLVANE_INFO, infono, buf, buflen);
}
