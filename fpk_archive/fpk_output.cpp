#include "fpk_output.h"

#include <string.h>

#include "safe_name.h"

int fpk_output_path(HostInput dest, const char *name, FpkOutputPath *path, HostInput *out) {
    uint32_t dest_length = host_input_length(dest);
    uint32_t name_length = (uint32_t)strlen(name);
    uint32_t separator = dest_length ? 1 : 0;
    *out = dest.wide ? host_input_wide(path->wide) : host_input_narrow(path->narrow);
    if (dest_length + separator > FPK_PATH_MAX ||
        name_length > FPK_PATH_MAX - dest_length - separator)
        return 0;
    // A separator follows a non-empty dest even when it already ends with one.
    uint32_t length = dest_length + separator + name_length;
    for (uint32_t i = 0; i <= length; ++i) {
        uint32_t unit = i < dest_length               ? host_input_unit(dest, i)
                        : i < dest_length + separator ? '\\'
                                                      : (unsigned char)name[i - dest_length - separator];
        if (dest.wide)
            path->wide[i] = (char16_t)unit;
        else
            path->narrow[i] = (char)unit;
    }
    return 1;
}

int fpk_write_member(SourceStream *s, HostInput dest, const char *name, const uint8_t *data,
                     uint32_t size) {
    FpkOutputPath path;
    HostInput path_name;
    if (!safe_name_stays_inside(name)) {
        source_fail(s, RESULT_INTERNAL_ERROR, ERROR_INVALID_NAME);
        return 0;
    }
    if (!fpk_output_path(dest, name, &path, &path_name)) {
        source_fail(s, RESULT_INTERNAL_ERROR, ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    HANDLE out = host_input_create_file(path_name, GENERIC_WRITE, 0, OPEN_ALWAYS);
    if (out == INVALID_HANDLE_VALUE) {
        source_fail(s, RESULT_INTERNAL_ERROR, GetLastError());
        return 0;
    }
    DWORD written = 0;
    // Each error is taken at once: CloseHandle may set one of its own.
    uint32_t error = 0;
    int ok = WriteFile(out, data, size, &written, nullptr);
    if (!ok) {
        error = GetLastError();
    } else if (written != size) {
        ok = 0;
        error = ERROR_DISK_FULL;
    } else if (!SetEndOfFile(out)) {
        ok = 0;
        error = GetLastError();
    }
    CloseHandle(out);
    if (!ok) source_fail(s, RESULT_INTERNAL_ERROR, error);
    return ok;
}
