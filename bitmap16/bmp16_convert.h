// Conversion of 16-bit bit-field pixels into 24-bit blue, green, red
// triples, in place inside the output block.
#pragma once

#include <stdint.h>

#include "spi.h"

enum ChannelMode : int32_t { CHANNEL_NONE = 0, CHANNEL_LEFT = 1, CHANNEL_RIGHT = 2 };

// How one colour mask is widened to 8 bits: the masked value is shifted so
// that the mask's top bit lands on bit 7, then repeated downward every
// `width` bits, `width` being the span from the lowest to the highest set bit.
struct ChannelScale {
    uint32_t mask;
    int32_t mode;  // ChannelMode
    uint32_t shift;
    uint32_t width;  // 0 only for a zero mask
};

ChannelScale derive_channel_scale(uint32_t mask);

// The 8-bit value of pixel `p` in the channel `scale` describes.
uint8_t expand_channel(uint32_t p, const ChannelScale *scale);

// Row strides and array sizes of a picture, all within 32 bits.
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

// Every channel is built from its pixel's bits by shifts and ORs only, so a
// pixel's triple is the OR of what its low byte and its high byte (or each of
// its four 4-bit digits) give alone. Built once per picture.
struct PixelTables {
    uint32_t low[256];   // blue | green << 8 | red << 16 from the low byte alone
    uint32_t high[256];  // the same from the high byte alone
    alignas(16) uint8_t digit[3][4][16];  // blue, green, red from each 4-bit digit alone
    // When no mask reaches above bit 15, each channel (blue, green, red) is
    // also the high half of ((p & mask) << lift) * factor: the lift puts the
    // mask's top bit on bit 15, and the factor adds one copy per repetition.
    // The copies never overlap, so the sum is the OR the expansion asks for.
    int32_t lanes_fit;
    uint16_t lane_mask[3];
    uint16_t lane_lift[3];
    uint16_t lane_factor[3];
};

void build_pixel_tables(const ChannelScale *red, const ChannelScale *green,
                        const ChannelScale *blue, PixelTables *tables);

// Ways through the conversion; convert_best_path picks the fastest this
// processor runs.
constexpr int CONVERT_SCALAR = 0;
constexpr int CONVERT_SSSE3 = 1;
int convert_best_path(void);

// Converts `width` pixels from `in` into triples at `out`, then writes `pad`
// zero bytes. When converting in place, `in` lies `lead` bytes ahead of `out`,
// and no store reaches input that has not been read yet.
void convert_row(uint8_t *out, const uint8_t *in, uint32_t width, uint32_t pad, uint32_t lead,
                 const PixelTables *tables, int path);

// Converts a whole picture in `block` (layout->out_size bytes, the input rows
// in its last layout->in_size bytes), reporting (i, height) before row i and
// (height, height) at the end. Returns 0 when the callback asks to stop.
int convert_picture(uint8_t *block, const PixelLayout *layout, const PixelTables *tables,
                    int path, ProgressCallback progress, LONG_PTR user);
