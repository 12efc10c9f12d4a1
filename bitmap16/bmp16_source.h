// The bitmap decoder's own operations on the source stream: only pellimor
// calls them (source.h says why they are not in plugin_common/).
#pragma once

#include <stdint.h>

#include "source.h"

// Moves on to byte `offset` from where the stream was opened, as if the bytes
// before it were read: a memory image that ends sooner is left at its end, a
// file is positioned there (past its end too), and reads then give zeros.
inline int source_skip_to(SourceStream *s, uint32_t offset) {
    if (!source_is_memory(s)) return source_seek(s, offset);
    uintptr_t length = (uintptr_t)(s->end - s->base);
    s->cursor = s->base + (offset < length ? offset : length);
    return 1;
}

// Reads n bytes (n <= size) into the last n bytes of the `size`-byte block
// at `block`, so that the input ends where the block ends; zeros past the
// input's end, as source_read.
inline int source_read_tail(SourceStream *s, void *block, uint32_t size, uint32_t n) {
    return source_read(s, (uint8_t *)block + (size - n), n);
}
