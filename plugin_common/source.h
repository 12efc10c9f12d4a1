// The per-call reader over a named file, a host's file handle or a memory
// image, and the moveable blocks that results are built in.
//
// Every operation returns 1 on success and 0 on failure, leaving the reason in
// the stream's `code` and `os_error`. Reading past the end of the input is not
// a failure, the missing bytes read as zeros, except where a caller asks for
// bytes the input must hold (source_read_exact, in fpk_source.h).
#pragma once

#include <stdint.h>

#include "spi.h"

// What both plug-ins call is here, compiled once in source.cpp. What only one
// of them calls lives in that plug-in's folder (fpk_archive/fpk_source.h,
// bitmap16/bmp16_source.h), so that neither plug-in carries code that only
// the other one reaches; a plug-in that comes to call such an operation as
// well moves it here.

// What an export received as its input or its folder: a file or folder
// name, 8-bit text in the host's code page from a plain export or UTF-16
// from its wide sibling, or, for a memory source, the image's address.
// Everything after the export is shared; only the calls that open or create
// a file look at `wide`, and only for a name.
struct HostInput {
    const void *data;  // the name's first unit, or the image's first byte
    int32_t wide;      // a name: 1, char16_t units; 0, 8-bit chars
};

inline HostInput host_input_narrow(const char *data) { return HostInput{data, 0}; }
inline HostInput host_input_wide(const char16_t *data) { return HostInput{data, 1}; }

// CreateFileA or CreateFileW as the name is, with no security attributes,
// flags or template. A null name is opened as an empty one, which fails.
inline HANDLE host_input_create_file(HostInput name, DWORD access, DWORD share,
                                     DWORD disposition) {
    if (name.wide) {
        const char16_t *text = name.data ? (const char16_t *)name.data : u"";
        return CreateFileW((LPCWSTR)text, access, share, nullptr, disposition, 0, nullptr);
    }
    const char *text = name.data ? (const char *)name.data : "";
    return CreateFileA(text, access, share, nullptr, disposition, 0, nullptr);
}

struct SourceStream {
    int32_t code;          // result code of the failure, RESULT_OK while all is well
    uint32_t os_error;     // GetLastError() taken at that failure, else 0
    const uint8_t *cursor; // memory mode: next byte to read
    const uint8_t *base;   // memory mode: first byte of the image
    const uint8_t *end;    // memory mode: one past the last byte of the image
    HANDLE file;           // INVALID_HANDLE_VALUE in memory mode and when closed
    uint32_t origin;       // file offset the stream was opened at, or the host's position
    int32_t borrowed;      // 1 when `file` is the host's and is restored, not closed
};

// The largest block handed out. No 32-bit process can hold 2 GiB in one
// block, and the 64-bit build refuses the same sizes so that both answer alike.
constexpr uint32_t BLOCK_SIZE_MAX = 0x7FFFFFFF;

// Records a failure; the latest failure's code is the one the export returns.
void source_fail(SourceStream *s, int32_t code, uint32_t os_error);

// Opens `name_or_image` as the export's `flag` says: a memory image of
// `offset_or_length` bytes, or a file positioned at byte `offset_or_length`.
// An image at address 0 that claims bytes is a host's mistake, refused with
// RESULT_INTERNAL_ERROR before anything is read; one of length 0 is empty.
int source_open(SourceStream *s, HostInput name_or_image, LONG_PTR offset_or_length,
                uint32_t flag);

// The stream reads a memory image (or is closed), not a file.
inline int source_is_memory(const SourceStream *s) { return s->file == INVALID_HANDLE_VALUE; }

// Opens IsSupported's probe: a host handle (read from, then restored to, its
// current position) or the address of a PROBE_BUFFER_SIZE-byte buffer.
int source_open_probe(SourceStream *s, void *probe);

// Up to n bytes into dest, one copy or one ReadFile; *got is the count
// obtained, short only where the input ends.
int source_read_some(SourceStream *s, void *dest, uint32_t n, uint32_t *got);

// Positions the file at byte `target` from its start, a 32-bit distance:
// positions of 2 GiB and up cannot be reached that way and fail as the
// platform fails them.
int source_position(SourceStream *s, uint32_t target);

// Reads exactly n bytes into dest; what the input does not hold reads as zeros.
int source_read(SourceStream *s, void *dest, uint32_t n);

// Positions at `offset` from where the stream was opened.
inline int source_seek(SourceStream *s, uint32_t offset) {
    if (source_is_memory(s)) {
        if (offset >= (uintptr_t)(s->end - s->base)) {
            source_fail(s, RESULT_MEMORY_ERROR, 0);
            return 0;
        }
        s->cursor = s->base + offset;
        return 1;
    }
    if (offset > UINT32_MAX - s->origin) {
        source_fail(s, RESULT_READ_ERROR, ERROR_NEGATIVE_SEEK);
        return 0;
    }
    return source_position(s, s->origin + offset);
}

// Closes an owned file or restores a borrowed handle's position. Safe to call
// on a stream that failed to open or is already closed.
int source_close(SourceStream *s);

// Allocates a block of `size` bytes with LocalAlloc's `flags` into *handle
// and locks it into *data; on failure both are null.
int block_alloc_with(SourceStream *s, HLOCAL *handle, void **data, uint32_t size, UINT flags);

// Allocates a moveable block of `size` bytes into *handle and locks it into
// *data. The contents are not cleared.
inline int block_alloc(SourceStream *s, HLOCAL *handle, void **data, uint32_t size) {
    return block_alloc_with(s, handle, data, size, LMEM_MOVEABLE);
}

// Unlocks and frees the block in *handle, if any, and nulls the variable.
void block_release(HLOCAL *handle);
