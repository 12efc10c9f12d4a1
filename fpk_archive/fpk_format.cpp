#include "fpk_format.h"

#include <string.h>

#include "checked.h"

namespace {

// Sizes and offsets are signed in the format: a size of 2 GiB or more is negative.
int32_t fpk_field(const uint8_t *entry, uint32_t field) {
    return (int32_t)read_le32(entry + field);
}

}  // namespace

void fpk_entry_decode(const uint8_t *entry, FpkDirectoryEntry *out) {
    out->offset = read_le32(entry + FPK_ENTRY_OFFSET);
    out->size = read_le32(entry + FPK_ENTRY_LENGTH);
    memcpy(out->name, entry + FPK_ENTRY_NAME, FPK_NAME_SIZE);
}

int fpk_header_valid(const uint8_t *header) {
    uint32_t count = read_le32(header);
    // Unsigned, so that zero and negative counts fail with the too-large ones.
    if (count - 1 > FPK_COUNT_MAX - 1) return 0;
    const uint8_t *first = header + FPK_COUNT_SIZE;
    int32_t directory_end = (int32_t)fpk_entry_at(count);
    // Room between the directory and the first member is allowed.
    if (fpk_field(first, FPK_ENTRY_OFFSET) < directory_end) return 0;
    if (fpk_field(first, FPK_ENTRY_LENGTH) < 1) return 0;
    return fpk_name_valid(first + FPK_ENTRY_NAME);
}

int fpk_entries_valid(const uint8_t *directory, uint32_t first, uint32_t last) {
    const uint8_t *previous = directory + fpk_entry_at(first - 1);
    for (uint32_t j = first; j < last; ++j) {
        const uint8_t *entry = previous + FPK_ENTRY_SIZE;
        if (fpk_field(entry, FPK_ENTRY_LENGTH) < 1) return 0;
        if (!fpk_name_valid(entry + FPK_ENTRY_NAME)) return 0;
        // Members lie back to back; the sum wraps as 32-bit arithmetic does.
        uint32_t expected = read_le32(previous + FPK_ENTRY_OFFSET) +
                            read_le32(previous + FPK_ENTRY_LENGTH);
        if (read_le32(entry + FPK_ENTRY_OFFSET) != expected) return 0;
        previous = entry;
    }
    return 1;
}

int fpk_directory_probe(SourceStream *s, const uint8_t *directory, uint32_t limit) {
    if (fpk_header_valid(directory)) {
        uint32_t count = read_le32(directory);
        uint32_t n = count < limit ? count : limit;
        if (n <= 1 || fpk_entries_valid(directory, 1, n)) return 1;
    }
    source_fail(s, RESULT_UNKNOWN_FORMAT, 0);
    return 0;
}
