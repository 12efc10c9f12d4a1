#include "plugin_info.h"

#include <string.h>

int32_t plugin_info_copy(const char *const *table, int32_t infono, char *buf, int32_t buflen) {
    if (infono < 0 || buflen < 1 || !buf) return 0;
    for (int32_t i = 0; table[i]; ++i) {
        if (i != infono) continue;
        buf[buflen - 1] = '\0';
        strncpy(buf, table[i], (size_t)buflen - 1);
        return (int32_t)strlen(buf);
    }
    return 0;
}
