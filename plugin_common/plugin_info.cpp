#include "plugin_info.h"

int32_t plugin_info_copy(const char *const *table, int32_t infono, void *buf, int32_t buflen,
                         int32_t wide) {
    if (infono < 0 || buflen < 1 || !buf) return 0;
    for (int32_t i = 0; table[i]; ++i) {
        if (i != infono) continue;
        // As strncpy into buflen - 1 units: the string, then zeros; the last
        // unit is always a terminator. The strings are ASCII, so a byte
        // widens to one UTF-16 unit.
        const char *text = table[i];
        int32_t length = 0;
        for (int32_t k = 0; k < buflen; ++k) {
            char c = k < buflen - 1 ? *text : '\0';
            if (c) {
                ++text;
                ++length;
            }
            if (wide)
                ((char16_t *)buf)[k] = (unsigned char)c;
            else
                ((char *)buf)[k] = c;
        }
        return length;
    }
    return 0;
}
