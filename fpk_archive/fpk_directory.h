// Reading an archive's whole directory into a scratch block, checking every
// entry on the way.
#pragma once

#include <stdint.h>

#include "fpk_format.h"
#include "source.h"

// Entries read and checked per step. The scratch directory grows only as
// entries pass, so a count the file does not back costs one step of memory.
constexpr uint32_t FPK_READ_STEP = 4096;

// The scratch directory: the count followed by every entry, as in the file.
// All zero is the empty state, safe to release.
struct FpkDirectory {
    HLOCAL handle;
    uint8_t *bytes;
    uint32_t count;
    uint32_t capacity;  // entries the block has room for
};

// Reads the header and the directory from the stream's current position and
// checks it whole. Fails with RESULT_UNKNOWN_FORMAT at the first bad entry,
// RESULT_NO_MEMORY when the scratch directory cannot be had, or the read's code.
int fpk_directory_read(SourceStream *s, FpkDirectory *dir);

void fpk_directory_entry(const FpkDirectory *dir, uint32_t index, FpkDirectoryEntry *out);

void fpk_directory_release(FpkDirectory *dir);
