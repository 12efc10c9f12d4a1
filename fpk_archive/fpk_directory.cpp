#include "fpk_directory.h"

#include <string.h>

#include "checked.h"

namespace {

// Moves the first `used` entries into a block with room for `capacity`.
int fpk_directory_grow(SourceStream *s, FpkDirectory *dir, uint32_t capacity, uint32_t used) {
    HLOCAL handle = nullptr;
    void *bytes = nullptr;
    // capacity is at most FPK_COUNT_MAX, so the size stays below 2 GiB.
    if (!block_alloc(s, &handle, &bytes, fpk_entry_at(capacity))) {
        // A scratch block that cannot be had, however it failed, is a lack of memory.
        source_fail(s, RESULT_NO_MEMORY, s->os_error);
        return 0;
    }
    if (dir->bytes) memcpy(bytes, dir->bytes, fpk_entry_at(used));
    block_release(&dir->handle);
    dir->handle = handle;
    dir->bytes = (uint8_t *)bytes;
    dir->capacity = capacity;
    return 1;
}

}  // namespace

int fpk_directory_read(SourceStream *s, FpkDirectory *dir) {
    uint8_t header[FPK_HEADER_SIZE];
    if (!source_read(s, header, sizeof header)) return 0;
    if (!fpk_header_valid(header)) {
        source_fail(s, RESULT_UNKNOWN_FORMAT, 0);
        return 0;
    }
    uint32_t count = read_le32(header);
    if (!fpk_directory_grow(s, dir, count < FPK_READ_STEP ? count : FPK_READ_STEP, 0)) return 0;
    memcpy(dir->bytes, header, sizeof header);
    uint32_t checked = 1;
    while (checked < count) {
        if (checked == dir->capacity) {
            // Every entry so far has passed. Doubling keeps the copying linear.
            uint32_t want = dir->capacity <= count / 2 ? dir->capacity * 2 : count;
            if (!fpk_directory_grow(s, dir, want, checked)) return 0;
        }
        uint32_t n = dir->capacity - checked;
        if (n > FPK_READ_STEP) n = FPK_READ_STEP;
        if (!source_read(s, dir->bytes + fpk_entry_at(checked), n * FPK_ENTRY_SIZE)) return 0;
        if (!fpk_entries_valid(dir->bytes, checked, checked + n)) {
            source_fail(s, RESULT_UNKNOWN_FORMAT, 0);
            return 0;
        }
        checked += n;
    }
    dir->count = count;
    return 1;
}

void fpk_directory_entry(const FpkDirectory *dir, uint32_t index, FpkDirectoryEntry *out) {
    fpk_entry_decode(dir->bytes + fpk_entry_at(index), out);
}

void fpk_directory_release(FpkDirectory *dir) {
    block_release(&dir->handle);
    dir->bytes = nullptr;
    dir->count = 0;
    dir->capacity = 0;
}
