// Where GetFile writes a member: the output path inside the host's folder.
#pragma once

#include <stdint.h>

#include "source.h"

// Longest output path, without its terminator.
constexpr uint32_t FPK_PATH_MAX = 259;

// The output path, in the units of the host's folder name.
struct FpkOutputPath {
    union {
        char narrow[FPK_PATH_MAX + 1];
        char16_t wide[FPK_PATH_MAX + 1];
    };
};

// `dest` + "\" + `name` (just `name` when dest is empty) into `path`, counted
// in dest's units (bytes, or UTF-16 units for a wide dest). Returns 0 when it
// does not fit in FPK_PATH_MAX units; `*out` then names nothing.
int fpk_output_path(HostName dest, const char *name, FpkOutputPath *path, HostName *out);
