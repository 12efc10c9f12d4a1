// GetFile and GetFileW: one member out of an archive, into a file in the
// host's folder or into a block handed to the host.
#include <string.h>

#include "fpk_directory.h"
#include "fpk_member_name.h"
#include "fpk_output.h"
#include "source.h"

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
// The directory promises `size` bytes: a file that ends first is damaged, and
// the first read that comes short ends the call (RESULT_READ_ERROR).
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

// Writes the member as dest\name, cutting any longer file already there.
int fpk_write_member(SourceStream *s, HostName dest, const char *name, const uint8_t *data,
                     uint32_t size) {
    FpkOutputPath path;
    HostName path_name;
    if (!fpk_name_stays_inside(name) || !fpk_output_path(dest, name, &path, &path_name)) {
        source_fail(s, RESULT_INTERNAL_ERROR, 0);
        return 0;
    }
    HANDLE out = host_name_create_file(path_name, GENERIC_WRITE, 0, OPEN_ALWAYS);
    if (out == INVALID_HANDLE_VALUE) {
        source_fail(s, RESULT_INTERNAL_ERROR, 0);
        return 0;
    }
    DWORD written = 0;
    int ok = WriteFile(out, data, size, &written, nullptr) && written == size &&
             SetEndOfFile(out);
    CloseHandle(out);
    if (!ok) source_fail(s, RESULT_INTERNAL_ERROR, 0);
    return ok;
}

// With a file source `len` is the member's position, found in the directory
// read from the file's start; with a memory source the image is the member.
// `dest` is a folder, or with DEST_MEMORY the address of the host's variable.
int32_t fpk_get_member(HostName src, LONG_PTR len, HostName dest, uint32_t flag,
                       ProgressCallback progress, LONG_PTR user) {
    uint32_t dest_kind = flag & DEST_KIND_MASK;
    if (dest_kind != DEST_FILE && dest_kind != DEST_MEMORY) return RESULT_INTERNAL_ERROR;
    // No variable to receive the block: nothing can be delivered.
    if (dest_kind == DEST_MEMORY && !dest.text) return RESULT_INTERNAL_ERROR;

    SourceStream s;
    FpkDirectory dir = {};
    HLOCAL handle = nullptr;
    uint8_t *data = nullptr;
    char name[FPK_NAME_SIZE];
    uint32_t size = 0;
    if (!source_open(&s, src, len, flag)) goto done;
    if (s.file == INVALID_HANDLE_VALUE) {
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
        if (!source_seek(&s, 0)) goto done;
    }
    if (!block_alloc(&s, &handle, (void **)&data, size)) goto done;
    if (!fpk_read_member(&s, data, size, progress, user)) goto done;
    if (dest_kind == DEST_MEMORY) {
        *(HLOCAL *)dest.text = handle;
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

}  // namespace

SPI_EXPORT int32_t WINAPI GetFile(const char *src, LONG_PTR len, char *dest, uint32_t flag,
                                  ProgressCallback progress, LONG_PTR user) {
    return fpk_get_member(host_name_narrow(src), len, host_name_narrow(dest), flag, progress,
                          user);
}

SPI_EXPORT int32_t WINAPI GetFileW(const char16_t *src, LONG_PTR len, char16_t *dest,
                                   uint32_t flag, ProgressCallback progress, LONG_PTR user) {
    return fpk_get_member(host_name_wide(src), len, host_name_wide(dest), flag, progress, user);
}
