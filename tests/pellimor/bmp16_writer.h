// Test bitmaps made in code, and a deliberately plain decoder to check the
// plug-in's pixels against.
#pragma once

#include <stdint.h>

#include <vector>

#include "test_support.h"

struct Masks {
    uint32_t red, green, blue;
};

constexpr Masks MASKS_565 = {0xF800, 0x07E0, 0x001F};
constexpr Masks MASKS_555 = {0x7C00, 0x03E0, 0x001F};
constexpr Masks MASKS_444 = {0x0F00, 0x00F0, 0x000F};

// Header fields a test may set to something odd. off_bits above 66 puts junk
// between the masks and the rows, as a colour table would.
struct Bmp16Knobs {
    uint16_t type = 0x4D42;
    uint32_t file_size = 0;  // 0: the real length
    uint16_t reserved1 = 0;
    uint16_t reserved2 = 0;
    uint32_t off_bits = 66;
    uint32_t info_size = 40;
    uint16_t planes = 1;
    uint16_t bit_count = 16;
    uint32_t compression = 3;
};

// A bottom-up 16-bit bitmap; `pixels` holds w * h values, bottom row first.
// Row padding is filled with junk, which the decoder must ignore.
Bytes make_bmp16(int32_t w, int32_t h, Masks masks, const std::vector<uint16_t> &pixels,
                 const Bmp16Knobs &knobs = Bmp16Knobs());

// The 24-bit rows `file` should decode to, worked out bit by bit from the
// bytes: rows start at byte 66 or at bfOffBits when larger, and everything
// past the end of `file` reads as zero.
Bytes reference_decode(const Bytes &file);

// Pseudo-random pixels with plenty of 0x0000 and 0xFFFF among them.
std::vector<uint16_t> random_pixels(uint32_t count, uint32_t seed);
