#include "source.h"

#include <string.h>

namespace {

void source_clear(SourceStream *s) {
    memset(s, 0, sizeof *s);
    s->file = INVALID_HANDLE_VALUE;
}

void source_fail_os(SourceStream *s, int32_t code) { source_fail(s, code, GetLastError()); }

// Memory mode never forms a pointer past `end`; lengths are compared instead.
void source_open_image(SourceStream *s, const uint8_t *image, uintptr_t length) {
    uintptr_t room = UINTPTR_MAX - (uintptr_t)image;
    if (length > room) length = room;
    s->base = image;
    s->cursor = image;
    s->end = image + length;
}

}  // namespace

void source_fail(SourceStream *s, int32_t code, uint32_t os_error) {
    s->code = code;
    s->os_error = os_error;
}

int source_open(SourceStream *s, HostInput name_or_image, LONG_PTR offset_or_length,
                uint32_t flag) {
    source_clear(s);
    if ((flag & SOURCE_KIND_MASK) == SOURCE_MEMORY) {
        if (!name_or_image.data && offset_or_length != 0) {
            source_fail(s, RESULT_INTERNAL_ERROR, ERROR_INVALID_PARAMETER);
            return 0;
        }
        // A negative length describes no bytes at all.
        uintptr_t length = offset_or_length < 0 ? 0 : (uintptr_t)offset_or_length;
        source_open_image(s, (const uint8_t *)name_or_image.data, length);
        return 1;
    }
    HANDLE file = host_input_create_file(name_or_image, GENERIC_READ, FILE_SHARE_READ,
                                        OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        source_fail_os(s, RESULT_READ_ERROR);
        return 0;
    }
    s->file = file;
    // An offset that is no 32-bit file position (negative, or beyond 32 bits
    // in the 64-bit build) cannot be reached.
    if (offset_or_length < 0 || (uint64_t)offset_or_length > 0x7FFFFFFFu) {
        source_fail(s, RESULT_READ_ERROR, ERROR_NEGATIVE_SEEK);
    } else if (offset_or_length != 0) {
        source_position(s, (uint32_t)offset_or_length);
    }
    if (s->code != RESULT_OK) {
        CloseHandle(file);
        s->file = INVALID_HANDLE_VALUE;
        return 0;
    }
    s->origin = (uint32_t)offset_or_length;
    return 1;
}

int source_open_probe(SourceStream *s, void *probe) {
    source_clear(s);
    if (((uintptr_t)probe >> 16) != 0) {
        source_open_image(s, (const uint8_t *)probe, PROBE_BUFFER_SIZE);
        return 1;
    }
    DWORD here = SetFilePointer((HANDLE)probe, 0, nullptr, FILE_CURRENT);
    if (here == INVALID_SET_FILE_POINTER) {
        source_fail_os(s, RESULT_READ_ERROR);
        return 0;
    }
    s->file = (HANDLE)probe;
    s->origin = here;
    s->borrowed = 1;
    return 1;
}

// Called, never inlined, by source_read here and source_read_exact in
// fpk_source.h: one copy serves both, and a plug-in that calls only one of them
// carries no second copy.
__attribute__((noinline)) int source_read_some(SourceStream *s, void *dest, uint32_t n, uint32_t *got) {
    if (source_is_memory(s)) {
        uintptr_t avail = (uintptr_t)(s->end - s->cursor);
        *got = avail < n ? (uint32_t)avail : n;
        if (*got) memcpy(dest, s->cursor, *got);
        s->cursor += *got;
        return 1;
    }
    DWORD read_count = 0;
    if (!ReadFile(s->file, dest, n, &read_count, nullptr)) {
        source_fail_os(s, RESULT_READ_ERROR);
        return 0;
    }
    *got = read_count <= n ? read_count : n;
    return 1;
}

int source_read(SourceStream *s, void *dest, uint32_t n) {
    uint32_t got = 0;
    if (!source_read_some(s, dest, n, &got)) return 0;
    if (got < n) memset((uint8_t *)dest + got, 0, n - got);
    return 1;
}

int source_position(SourceStream *s, uint32_t target) {
    if (SetFilePointer(s->file, (LONG)target, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        source_fail_os(s, RESULT_READ_ERROR);
        return 0;
    }
    return 1;
}

int source_close(SourceStream *s) {
    int ok = 1;
    if (s->file != INVALID_HANDLE_VALUE) {
        if (s->borrowed) {
            if (SetFilePointer(s->file, (LONG)s->origin, nullptr, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER) {
                source_fail_os(s, RESULT_INTERNAL_ERROR);
                ok = 0;
            }
        } else {
            CloseHandle(s->file);
        }
    }
    s->file = INVALID_HANDLE_VALUE;
    s->origin = 0;
    s->borrowed = 0;
    return ok;
}

int block_alloc_with(SourceStream *s, HLOCAL *handle, void **data, uint32_t size, UINT flags) {
    *handle = nullptr;
    *data = nullptr;
    if (size > BLOCK_SIZE_MAX) {
        source_fail(s, RESULT_NO_MEMORY, ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    HLOCAL h = LocalAlloc(flags, size);
    if (!h) {
        source_fail_os(s, RESULT_NO_MEMORY);
        return 0;
    }
    void *p = LocalLock(h);
    if (!p) {
        source_fail_os(s, RESULT_MEMORY_ERROR);
        LocalFree(h);
        return 0;
    }
    *handle = h;
    *data = p;
    return 1;
}

void block_release(HLOCAL *handle) {
    if (!*handle) return;
    LocalUnlock(*handle);
    LocalFree(*handle);
    *handle = nullptr;
}
