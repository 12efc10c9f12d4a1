// The one writer of 16-bit bit-field bitmaps of the tests, fuzz corpora,
// benchmarks and samples: every header field can be set to something odd.
#pragma once

#include <stdint.h>

#include <vector>

#include "test_bytes.h"

struct Masks {
    uint32_t red, green, blue;
};

constexpr Masks MASKS_565 = {0xF800, 0x07E0, 0x001F};
constexpr Masks MASKS_555 = {0x7C00, 0x03E0, 0x001F};
constexpr Masks MASKS_444 = {0x0F00, 0x00F0, 0x000F};

// Header fields a caller may set to something odd. off_bits above 66 puts
// `fill` bytes between the masks and the rows, as a colour table would; below
// 66 the rows still follow the masks.
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
    uint32_t size_image = 0;  // biSizeImage, which no reader needs
    uint32_t x_density = 0;   // biXPelsPerMeter, biYPelsPerMeter
    uint32_t y_density = 0;
    uint8_t fill = 0xA7;      // row padding and the gap before the rows: junk to ignore
};

// A bottom-up 16-bit bitmap; `pixels` holds w * h values, bottom row first.
Bytes make_bmp16(int32_t w, int32_t h, Masks masks, const std::vector<uint16_t> &pixels,
                 const Bmp16Knobs &knobs = Bmp16Knobs());

// The fuzz corpora's and the sweeps' shorthand: a picture of the given masks
// and bfOffBits, rows padded with zeros, biSizeImage set; `seed` 0 gives a
// gradient, any other seed pattern_bytes noise.
struct Bmp16Shape {
    int32_t width;
    int32_t height;
    uint32_t red, green, blue;
    uint32_t off_bits;
    uint32_t seed;
};
Bytes make_bmp16(const Bmp16Shape &shape);

inline Bmp16Shape bmp565(int32_t w, int32_t h, uint32_t seed = 0) {
    return Bmp16Shape{w, h, 0xF800, 0x07E0, 0x001F, 66, seed};
}

// Pseudo-random pixels with plenty of 0x0000 and 0xFFFF among them.
std::vector<uint16_t> random_pixels(uint32_t count, uint32_t seed);
