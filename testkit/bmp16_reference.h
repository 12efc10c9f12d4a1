// A deliberately plain reading of 16-bit bit-field bitmaps, independent of
// the plug-in: both header checks, and the 24-bit rows worked out one pixel
// and one bit at a time. The tests and the contract checks judge the
// plug-in's pixels by it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "test_bytes.h"

constexpr uint32_t BMP16_REF_HEADERS_END = 54;  // file header and information header
constexpr uint32_t BMP16_REF_MASKS_END = 66;    // then the three masks

struct Bmp16Reference {
    int ok;  // both header checks pass
    int32_t width, height;
    uint32_t masks[3];   // red, green, blue
    uint64_t pixels_at;  // the rows start at bfOffBits, or after the masks when that is lower
    uint64_t in_stride, out_stride;
};

// The headers of the file of `size` bytes at `data`, zeros past its end.
Bmp16Reference bmp16_reference_headers(const uint8_t *data, size_t size);

// The 24-bit bottom-up rows (each padded to 4 bytes) the picture decodes to,
// every byte past the end of the file read as zero; empty when the width or
// the height is not positive.
Bytes bmp16_reference_rows(const uint8_t *data, size_t size, const Bmp16Reference &ref);

// The rows `file` decodes to, whatever its headers say besides the size.
Bytes reference_decode(const Bytes &file);
