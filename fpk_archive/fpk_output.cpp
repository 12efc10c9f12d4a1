#include "fpk_output.h"

#include <string.h>

namespace {

int fpk_is_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

int fpk_name_stays_inside(const char *name) {
    if (fpk_is_separator(name[0])) return 0;
    if (strchr(name, ':')) return 0;
    // Windows trims trailing dots from a name, so no component made only of
    // dots names a file of its own; ".." climbs out of the folder.
    const char *component = name;
    for (const char *p = name;; ++p) {
        if (*p != '\0' && !fpk_is_separator(*p)) continue;
        size_t length = (size_t)(p - component);
        if (length >= 2 && strspn(component, ".") >= length) return 0;
        if (*p == '\0') return 1;
        component = p + 1;
    }
}

int fpk_output_path(const char *dest, const char *name, char *path) {
    size_t dest_length = strlen(dest);
    size_t name_length = strlen(name);
    size_t separator = dest_length ? 1 : 0;
    if (dest_length + separator > FPK_PATH_MAX ||
        name_length > FPK_PATH_MAX - dest_length - separator)
        return 0;
    memcpy(path, dest, dest_length);
    // A separator follows a non-empty dest even when it already ends with one.
    if (separator) path[dest_length] = '\\';
    memcpy(path + dest_length + separator, name, name_length + 1);
    return 1;
}
