#include "safe_name.h"

#include <ctype.h>
#include <stddef.h>
#include <string.h>

namespace {

int safe_name_is_separator(char c) { return c == '\\' || c == '/'; }

// Windows opens a device, not a file, for these names in any folder, with or
// without an extension: "NUL" would swallow the member, "COM1" send it to a port.
int safe_name_is_device(const char *component, size_t length) {
    static const char *const DEVICES[] = {"CON", "PRN", "AUX", "NUL"};
    size_t stem = 0;
    while (stem < length && component[stem] != '.') ++stem;
    char upper[5] = "";
    if (stem < 3 || stem > 4) return 0;
    for (size_t i = 0; i < stem; ++i) upper[i] = (char)toupper((unsigned char)component[i]);
    if (stem == 3) {
        for (const char *device : DEVICES)
            if (memcmp(upper, device, 3) == 0) return 1;
        return 0;
    }
    return (memcmp(upper, "COM", 3) == 0 || memcmp(upper, "LPT", 3) == 0) && upper[3] >= '1' &&
           upper[3] <= '9';
}

}  // namespace

int safe_name_stays_inside(const char *name) {
    if (safe_name_is_separator(name[0])) return 0;
    if (strchr(name, ':')) return 0;
    // Windows trims trailing dots from a name, so no component made only of
    // dots names a file of its own; ".." climbs out of the folder.
    const char *component = name;
    for (const char *p = name;; ++p) {
        if (*p != '\0' && !safe_name_is_separator(*p)) continue;
        size_t length = (size_t)(p - component);
        if (length >= 2 && strspn(component, ".") >= length) return 0;
        if (safe_name_is_device(component, length)) return 0;
        if (*p == '\0') return 1;
        component = p + 1;
    }
}
