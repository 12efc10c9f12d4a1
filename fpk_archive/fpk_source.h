// The archive reader's own operations on the source stream, the host's names
// and the result blocks: only tolvane calls them (source.h says why they are
// not in plugin_common/).
#pragma once

#include <stdint.h>

#include "source.h"

// Unit `i` of the name, zero-extended.
inline uint32_t host_input_unit(HostInput name, uint32_t i) {
    if (name.wide) return ((const char16_t *)name.data)[i];
    return ((const unsigned char *)name.data)[i];
}

// Number of units (bytes or UTF-16 units) before the name's terminator; a
// null name is empty.
inline uint32_t host_input_length(HostInput name) {
    uint32_t n = 0;
    if (!name.data) return 0;
    while (host_input_unit(name, n)) ++n;
    return n;
}

// Reads exactly n bytes into dest, for data the input promises in full: an
// input that ends first is RESULT_READ_ERROR (os_error ERROR_HANDLE_EOF), and
// dest then holds what was obtained followed by bytes of no defined value.
inline int source_read_exact(SourceStream *s, void *dest, uint32_t n) {
    uint32_t got = 0;
    if (!source_read_some(s, dest, n, &got)) return 0;
    if (got < n) {
        source_fail(s, RESULT_READ_ERROR, ERROR_HANDLE_EOF);
        return 0;
    }
    return 1;
}

// Positions at `offset` from the start of the file, whatever the origin.
inline int source_seek_absolute(SourceStream *s, uint32_t offset) {
    if (source_is_memory(s)) return source_seek(s, offset);
    return source_position(s, offset);
}

// The input holds n bytes at `offset` from where the stream was opened; when
// it does not, RESULT_READ_ERROR (os_error ERROR_HANDLE_EOF). A file is
// measured at its end, where it is left: position it before reading on.
int source_holds(SourceStream *s, uint32_t offset, uint32_t n);

// block_alloc of a block whose every byte is 0, for results whose bytes the
// caller does not all write. The system clears it (LMEM_ZEROINIT), which for
// a large block costs nothing: fresh pages come zeroed.
inline int block_alloc_cleared(SourceStream *s, HLOCAL *handle, void **data, uint32_t size) {
    return block_alloc_with(s, handle, data, size, LMEM_MOVEABLE | LMEM_ZEROINIT);
}
