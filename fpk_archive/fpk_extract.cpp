#include "fpk_extract.h"

#include <string.h>

#include "fpk_directory.h"
#include "fpk_output.h"
#include "fpk_source.h"

namespace {

// A member read with a callback is split into this many reports.
constexpr uint32_t FPK_PROGRESS_STEPS = 32;

// What GetFile calls a member that comes as a memory image.
const char FPK_MEMORY_MEMBER_NAME[] = "noname";

int fpk_report(SourceStream *s, ProgressCallback progress, uint32_t done, uint32_t total,
               LONG_PTR user) {
    if (progress((int32_t)done, (int32_t)total, user) == 0) return 1;
    source_fail(s, RESULT_CANCELLED, 0);
    return 0;
}

// The whole member in one read, or in up to 32 reported steps and a remainder.
// The file was seen to hold `size` bytes; should it end first all the same
// (cut meanwhile), the first read that comes short ends the call
// (RESULT_READ_ERROR).
int fpk_read_member(SourceStream *s, uint8_t *data, uint32_t size, ProgressCallback progress,
                    LONG_PTR user) {
    if (!progress) return source_read_exact(s, data, size);
    uint32_t chunk = size / FPK_PROGRESS_STEPS;
    uint32_t steps = FPK_PROGRESS_STEPS;
    if (chunk == 0) {
        chunk = 1;
        steps = size;
    }
    for (uint32_t i = 0; i < steps; ++i) {
        if (!fpk_report(s, progress, i, steps, user)) return 0;
        if (!source_read_exact(s, data + i * chunk, chunk)) return 0;
    }
    uint32_t done = steps * chunk;
    if (done < size && !source_read_exact(s, data + done, size - done)) return 0;
    // Hosts see the count complete, then a report that starts over at 0 of 32.
    if (!fpk_report(s, progress, steps, steps, user)) return 0;
    return fpk_report(s, progress, 0, FPK_PROGRESS_STEPS, user);
}

}  // namespace

// With a file source `len` is the member's position, found in the directory
// read from the file's start; with a memory source the image is the member.
// `dest` is a folder, or with DEST_MEMORY the address of the host's variable.
int32_t fpk_get_member(HostInput src, LONG_PTR len, HostInput dest, uint32_t flag,
                       ProgressCallback progress, LONG_PTR user) {
    uint32_t dest_kind = flag & DEST_KIND_MASK;
    if (dest_kind != DEST_FILE && dest_kind != DEST_MEMORY) return RESULT_INTERNAL_ERROR;
    // No variable to receive the block: nothing can be delivered.
    if (dest_kind == DEST_MEMORY && !dest.data) return RESULT_INTERNAL_ERROR;

    SourceStream s;
    FpkDirectory dir = {};
    HLOCAL handle = nullptr;
    uint8_t *data = nullptr;
    char name[FPK_NAME_SIZE];
    uint32_t size = 0;
    if (!source_open(&s, src, len, flag)) goto done;
    if (source_is_memory(&s)) {
        // A length that no block can hold, negative ones included.
        if (len < 0 || (uint64_t)len > BLOCK_SIZE_MAX) {
            source_fail(&s, RESULT_NO_MEMORY, 0);
            goto done;
        }
        size = (uint32_t)len;
        memcpy(name, FPK_MEMORY_MEMBER_NAME, sizeof FPK_MEMORY_MEMBER_NAME);
    } else {
        if (!source_seek_absolute(&s, 0)) goto done;
        if (!fpk_directory_read(&s, &dir)) goto done;
        uint32_t i = 0;
        FpkDirectoryEntry e = {};
        for (; i < dir.count; ++i) {
            fpk_directory_entry(&dir, i, &e);
            // source_open refused every len that is not a 31-bit position.
            if (e.offset == (uint32_t)len) break;
        }
        if (i == dir.count) {
            source_fail(&s, RESULT_READ_ERROR, 0);
            goto done;
        }
        size = e.size;
        memcpy(name, e.name, sizeof name);
        fpk_directory_release(&dir);
        // A size the file cannot back is damage, found before any block is
        // had for it: a claim of 2 GiB in a small file costs nothing.
        if (!source_holds(&s, 0, size)) goto done;
        if (!source_seek(&s, 0)) goto done;
    }
    if (!block_alloc(&s, &handle, (void **)&data, size)) goto done;
    if (!fpk_read_member(&s, data, size, progress, user)) goto done;
    if (dest_kind == DEST_MEMORY) {
        *(HLOCAL *)dest.data = handle;
        LocalUnlock(handle);
        handle = nullptr;
        data = nullptr;
    } else {
        fpk_write_member(&s, dest, name, data, size);
    }
done:
    if (data) block_release(&handle);
    fpk_directory_release(&dir);
    source_close(&s);
    return s.code;
}
