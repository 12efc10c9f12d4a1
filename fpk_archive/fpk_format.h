// The FPK archive layout and its directory check, as pure functions over the
// directory's bytes.
//
// An archive is a 32-bit member count, then `count` 24-byte directory entries,
// then the members' bytes back to back. There is no magic number: an archive
// is recognised by its directory being self-consistent.
#pragma once

#include <stdint.h>

#include "source.h"

constexpr uint32_t FPK_COUNT_SIZE = 4;
constexpr uint32_t FPK_ENTRY_SIZE = 24;
constexpr uint32_t FPK_ENTRY_OFFSET = 0;   // int32: member data, from the archive's start
constexpr uint32_t FPK_ENTRY_LENGTH = 4;   // int32: member size in bytes
constexpr uint32_t FPK_ENTRY_NAME = 8;     // 1 to 15 printable bytes, then NUL
constexpr uint32_t FPK_NAME_SIZE = 16;
// The count and entry 0: what every archive function reads first.
constexpr uint32_t FPK_HEADER_SIZE = FPK_COUNT_SIZE + FPK_ENTRY_SIZE;

// Counts run from 1 to this; a larger one would make count * 24 + 4 reach 2 GiB.
constexpr uint32_t FPK_COUNT_MAX = 89478484;
// Whole entries that follow the count in IsSupported's 2048-byte probe.
constexpr uint32_t FPK_PROBE_ENTRIES = 85;

static_assert(FPK_ENTRY_NAME + FPK_NAME_SIZE == FPK_ENTRY_SIZE, "the name ends the entry");
static_assert((uint64_t)FPK_COUNT_MAX * FPK_ENTRY_SIZE + FPK_COUNT_SIZE < 0x80000000u,
              "a directory of the largest count fits a positive 32-bit offset");
static_assert(FPK_COUNT_SIZE + FPK_PROBE_ENTRIES * FPK_ENTRY_SIZE <= PROBE_BUFFER_SIZE &&
                  FPK_COUNT_SIZE + (FPK_PROBE_ENTRIES + 1) * FPK_ENTRY_SIZE > PROBE_BUFFER_SIZE,
              "the probe holds exactly this many whole entries");

// One directory entry, decoded. `name` is NUL-terminated once the entry has
// passed the name rule.
struct FpkDirectoryEntry {
    uint32_t offset;
    uint32_t size;
    char name[FPK_NAME_SIZE];
};

// Byte position of entry `index` in a directory copy that starts with the count.
inline uint32_t fpk_entry_at(uint32_t index) { return FPK_COUNT_SIZE + index * FPK_ENTRY_SIZE; }

void fpk_entry_decode(const uint8_t *entry, FpkDirectoryEntry *out);

constexpr uint8_t FPK_NAME_FIRST = 0x21;
constexpr uint8_t FPK_NAME_LAST = 0x7E;

// 1 to 15 bytes in 0x21..0x7E followed by NUL; bytes after the NUL are ignored.
inline int fpk_name_valid(const uint8_t *name) {
    for (uint32_t i = 0; i < FPK_NAME_SIZE; ++i) {
        if (name[i] >= FPK_NAME_FIRST && name[i] <= FPK_NAME_LAST) continue;
        return name[i] == 0 && i > 0;
    }
    return 0;
}

// The count and entry 0 (FPK_HEADER_SIZE bytes) describe an archive.
int fpk_header_valid(const uint8_t *header);

// Entries first .. last - 1 of `directory` (which starts with the count) each
// have a size, a valid name and start where the entry before them ends.
// `first` is at least 1.
int fpk_entries_valid(const uint8_t *directory, uint32_t first, uint32_t last);

// IsSupported's judgement of the directory's start: the header check, then
// the smaller of count and `limit` entries. On failure the stream's code is
// RESULT_UNKNOWN_FORMAT.
int fpk_directory_probe(SourceStream *s, const uint8_t *directory, uint32_t limit);
