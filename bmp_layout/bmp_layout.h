// The layout of a Windows bitmap file: the two headers that open it and the
// colour masks of a bit-field bitmap, as offsets and sizes. pellimor reads
// it, spihost writes it; nothing here belongs to either.
#pragma once

#include <stdint.h>

// BITMAPFILEHEADER: 14 bytes, byte-packed, little-endian, opened by the
// signature "BM".
constexpr uint32_t BMP_FILE_HEADER_SIZE = 14;
constexpr uint16_t BMP_SIGNATURE = 0x4D42;
constexpr uint32_t BF_TYPE = 0;       // uint16: the signature
constexpr uint32_t BF_SIZE = 2;       // uint32: the file's size in bytes
constexpr uint32_t BF_RESERVED1 = 6;  // uint16: 0
constexpr uint32_t BF_RESERVED2 = 8;  // uint16: 0
constexpr uint32_t BF_OFF_BITS = 10;  // uint32: where the pixel rows start

// BITMAPINFOHEADER: 40 bytes; offsets from its own start.
constexpr uint32_t BMP_INFO_HEADER_SIZE = 40;
constexpr uint32_t BI_SIZE = 0;
constexpr uint32_t BI_WIDTH = 4;
constexpr uint32_t BI_HEIGHT = 8;
constexpr uint32_t BI_PLANES = 12;
constexpr uint32_t BI_BIT_COUNT = 14;
constexpr uint32_t BI_COMPRESSION = 16;
constexpr uint32_t BI_SIZE_IMAGE = 20;
constexpr uint32_t BI_CLR_USED = 32;  // colour-table entries; 0: all the depth allows

constexpr uint32_t BMP_COMPRESSION_RGB = 0;
constexpr uint32_t BMP_COMPRESSION_BITFIELDS = 3;

constexpr uint32_t BMP_HEADERS_SIZE = BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_SIZE;
// Red, green and blue masks, 32 bits each, directly after the information header.
constexpr uint32_t BMP_MASKS_SIZE = 12;
constexpr uint32_t BMP_RED_MASK = 0;
constexpr uint32_t BMP_GREEN_MASK = 4;
constexpr uint32_t BMP_BLUE_MASK = 8;
// Pixel rows follow the masks unless bfOffBits names a later start.
constexpr uint32_t BMP_PIXELS_AFTER_MASKS = BMP_HEADERS_SIZE + BMP_MASKS_SIZE;
static_assert(BMP_PIXELS_AFTER_MASKS == 66, "masks end at byte 66");
