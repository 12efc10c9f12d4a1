#include "fpk_output.h"

#include <string.h>

int fpk_output_path(HostName dest, const char *name, FpkOutputPath *path, HostName *out) {
    uint32_t dest_length = host_name_length(dest);
    uint32_t name_length = (uint32_t)strlen(name);
    uint32_t separator = dest_length ? 1 : 0;
    *out = dest.wide ? host_name_wide(path->wide) : host_name_narrow(path->narrow);
    if (dest_length + separator > FPK_PATH_MAX ||
        name_length > FPK_PATH_MAX - dest_length - separator)
        return 0;
    // A separator follows a non-empty dest even when it already ends with one.
    uint32_t length = dest_length + separator + name_length;
    for (uint32_t i = 0; i <= length; ++i) {
        uint32_t unit = i < dest_length               ? host_name_unit(dest, i)
                        : i < dest_length + separator ? '\\'
                                                      : (unsigned char)name[i - dest_length - separator];
        if (dest.wide)
            path->wide[i] = (char16_t)unit;
        else
            path->narrow[i] = (char)unit;
    }
    return 1;
}
