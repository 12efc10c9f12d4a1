#include "fpk_source.h"

int source_holds(SourceStream *s, uint32_t offset, uint32_t n) {
    uint64_t length = 0;
    uint64_t wanted = (uint64_t)offset + n;
    if (source_is_memory(s)) {
        length = (uintptr_t)(s->end - s->base);
    } else {
        // With the high part the answer covers files of 4 GiB and more; a low
        // part of all bits set is then a failure only when the error says so.
        LONG high = 0;
        DWORD low = SetFilePointer(s->file, 0, &high, FILE_END);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
            source_fail(s, RESULT_READ_ERROR, GetLastError());
            return 0;
        }
        uint64_t end = (uint64_t)(uint32_t)high << 32 | low;
        length = end > s->origin ? end - s->origin : 0;
    }
    if (wanted > length) {
        source_fail(s, RESULT_READ_ERROR, ERROR_HANDLE_EOF);
        return 0;
    }
    return 1;
}

