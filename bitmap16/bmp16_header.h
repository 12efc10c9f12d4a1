// The checks that decide whether the two headers that open a Windows bitmap
// (bmp_layout.h) describe a 16-bit bit-field bitmap, the picture's geometry,
// and the records built from them.
#pragma once

#include <stdint.h>

#include "bmp_layout.h"
#include "spi.h"

// The depth pellimor reads and the depth of the DIBs it hands over.
constexpr uint16_t BMP_INPUT_BITS = 16;
constexpr uint16_t BMP_OUTPUT_BITS = 24;

// Returns 1 when the 14 file-header bytes describe a bitmap we may read.
int bmp16_file_header_valid(const uint8_t *header);

// Returns 1 when the 40 information-header bytes describe a bottom-up 16-bit
// bit-field bitmap.
int bmp16_info_header_valid(const uint8_t *header);

// The geometry of a picture whose information header passed the check: its
// row strides and array sizes in and out, all within 32 bits.
struct PixelLayout {
    uint32_t width;
    uint32_t height;
    uint32_t in_stride;   // 2 bytes a pixel, rounded up to a multiple of 4
    uint32_t out_stride;  // 3 bytes a pixel plus `pad`
    uint32_t pad;         // zero bytes that end each output row
    uint32_t in_size;
    uint32_t out_size;
};

// Returns 0 when a stride or array size does not fit in 32 bits.
int derive_pixel_layout(uint32_t width, uint32_t height, PixelLayout *layout);

// The host's summary of a picture whose information header passed the check.
void bmp16_fill_picture_info(const uint8_t *info_header, PictureInfoRecord *record);

// The 40-byte information header of the 24-bit picture decoded from
// `info_header`, whose pixel block holds `image_size` bytes.
void write_dib_info_header(const uint8_t *info_header, uint32_t image_size, uint8_t *out);
