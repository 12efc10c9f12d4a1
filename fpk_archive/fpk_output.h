// Where GetFile writes a member: the output path inside the host's folder.
#pragma once

#include <stdint.h>

#include "fpk_source.h"

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
int fpk_output_path(HostInput dest, const char *name, FpkOutputPath *path, HostInput *out);

// Writes `size` bytes as dest\name, cutting any longer file already there.
// Every failure is RESULT_INTERNAL_ERROR with the system's error number: that
// of the failed call, ERROR_DISK_FULL for a write that came short, and
// ERROR_INVALID_NAME or ERROR_FILENAME_EXCED_RANGE for a name that leaves
// the folder or a path too long, which are refused before anything is created.
int fpk_write_member(SourceStream *s, HostInput dest, const char *name, const uint8_t *data,
                     uint32_t size);
