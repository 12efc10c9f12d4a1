// GetPluginInfo's routine over a plug-in's table of information strings.
#pragma once

#include <stdint.h>

// Copies entry `infono` of the null-terminated `table` into buf (at most
// buflen - 1 units, padded with and followed by zeros) and returns its length
// there. Units are bytes, or UTF-16 units when `wide` is 1 (GetPluginInfoW).
// An index outside the table, or a buflen below 1, returns 0 and leaves buf
// untouched.
int32_t plugin_info_copy(const char *const *table, int32_t infono, void *buf, int32_t buflen,
                         int32_t wide);
