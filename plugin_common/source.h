// The per-call reader over a named file, a host's file handle or a memory
// image, and the moveable blocks that results are built in.
//
// Every operation returns 1 on success and 0 on failure, leaving the reason in
// the stream's `code` and `os_error`. Reading past the end of the input is not
// a failure, the missing bytes read as zeros, except where a caller asks for
// bytes the input must hold (source_read_exact).
#pragma once

#include <stdint.h>

#include "spi.h"

// A file or folder name as an export received it: 8-bit text in the host's
// code page from a plain export, UTF-16 from its wide sibling. Everything
// after the export is shared; only the calls that open or create a file look
// at `wide`. For a memory source `text` is the image's address.
struct HostName {
    const void *text;
    int32_t wide;  // 1: char16_t units, 0: 8-bit chars
};

inline HostName host_name_narrow(const char *text) { return HostName{text, 0}; }
inline HostName host_name_wide(const char16_t *text) { return HostName{text, 1}; }

// Number of units (bytes or UTF-16 units) before the terminator; a null name
// is empty.
uint32_t host_name_length(HostName name);

// Unit `i` of the name, zero-extended.
uint32_t host_name_unit(HostName name, uint32_t i);

// CreateFileA or CreateFileW as the name is, with no security attributes,
// flags or template. A null name is opened as an empty one, which fails.
HANDLE host_name_create_file(HostName name, DWORD access, DWORD share, DWORD disposition);

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
int source_open(SourceStream *s, HostName name_or_image, LONG_PTR offset_or_length,
                uint32_t flag);

// Opens IsSupported's probe: a host handle (read from, then restored to, its
// current position) or the address of a PROBE_BUFFER_SIZE-byte buffer.
int source_open_probe(SourceStream *s, void *probe);

// Reads exactly n bytes into dest; what the input does not hold reads as zeros.
int source_read(SourceStream *s, void *dest, uint32_t n);

// Reads exactly n bytes into dest, for data the input promises in full: an
// input that ends first is RESULT_READ_ERROR (os_error ERROR_HANDLE_EOF), and
// dest then holds what was obtained followed by bytes of no defined value.
int source_read_exact(SourceStream *s, void *dest, uint32_t n);

// Positions at `offset` from where the stream was opened.
int source_seek(SourceStream *s, uint32_t offset);

// Positions at `offset` from the start of the file, whatever the origin.
int source_seek_absolute(SourceStream *s, uint32_t offset);

// Closes an owned file or restores a borrowed handle's position. Safe to call
// on a stream that failed to open or is already closed.
int source_close(SourceStream *s);

// Allocates a moveable block of `size` bytes into *handle and locks it into
// *data. The contents are not cleared.
int block_alloc(SourceStream *s, HLOCAL *handle, void **data, uint32_t size);

// Unlocks and frees the block in *handle, if any, and nulls the variable.
void block_release(HLOCAL *handle);
