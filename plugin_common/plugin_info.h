// GetPluginInfo's routine over a plug-in's table of information strings.
#pragma once

#include <stdint.h>

// Copies entry `infono` of the null-terminated `table` into buf (at most
// buflen - 1 bytes, NUL-padded and terminated) and returns its length there.
// An index outside the table, or a buflen below 1, returns 0 and leaves buf
// untouched.
int32_t plugin_info_copy(const char *const *table, int32_t infono, char *buf, int32_t buflen);
