// Conversion of 16-bit bit-field pixels into 24-bit blue, green, red
// triples, in place inside the output block.
#pragma once

#include <stdint.h>

#include "bmp16_header.h"
#include "spi.h"

// A colour mask as the conversion widens it to 8 bits: the masked value is
// moved so that the mask's top bit lands on bit 7, then repeated downward
// every `width` bits, `width` being the span from the lowest to the highest
// set bit (PixelLanes holds the numbers that do it).
struct ChannelScale {
    uint32_t mask;
    uint32_t width;  // 0 only for a zero mask
};

ChannelScale derive_channel_scale(uint32_t mask);

// Every channel of a pixel p in 0..0xFFFF is the high half of
// ((p << shift) & mask) * factor. Think of the mask lifted until its top bit
// is bit 15 (a mask reaching higher is taken as it is): the lifted value times
// a factor with one bit for every repetition that reaches bit 7 or below and
// stays above bit -1 has the channel in its high half. The copies never
// overlap, so their sum is the OR the expansion asks for, and it never passes
// 255. The lift is folded into the factor, which then still fits in 16 bits
// unless the mask lies within the low byte; such a channel is taken from
// p << 8 and its lift is 8 smaller. Three small numbers per channel and
// nothing per picture size, so a small picture pays almost nothing to set up.
struct PixelLanes {
    uint16_t mask[3];    // blue, green, red; the mask's bits within 16, moved by `shift`
    uint16_t shift[3];   // 0, or 8 for a mask within the low byte
    uint16_t factor[3];  // the repetitions, lifted
    // 1 when pixel 0xFFFF comes out white from the lanes alone, as it does
    // for masks of contiguous bits within the low 16; the vector paths then
    // need not look for it.
    int32_t white_by_lanes;
};

void derive_pixel_lanes(const ChannelScale *red, const ChannelScale *green,
                        const ChannelScale *blue, PixelLanes *lanes);

// Ways through the conversion, each a superset of the one before in what the
// processor must run.
constexpr int CONVERT_SCALAR = 0;
constexpr int CONVERT_SSSE3 = 1;
constexpr int CONVERT_AVX2 = 2;

// Rows narrower than this run the scalar path on any processor: a group of
// 16 pixels is the narrowest vector step.
constexpr uint32_t CONVERT_VECTOR_MIN_WIDTH = 16;

// Where the system's feature query says no, the processor is asked itself,
// which in a virtual machine costs microseconds: only for pictures of at
// least this many pixels, which gain far more than that from a wider path.
constexpr uint64_t CONVERT_PROCESSOR_MIN_PIXELS = 65536;

// The path for a picture of this layout: the fastest this processor has and
// this system saves the registers of, but without asking anything for rows
// too narrow for a wider path, and without asking the processor for pictures
// too small to gain from it. Asked on every call: nothing is remembered
// between calls.
int convert_path_for(const PixelLayout *layout);

// Rows to convert, each `out_stride` after the last in the output and
// `in_stride` in the input. The first row's input lies `lead` bytes ahead of
// its output, and each next row's `lead_step` bytes nearer: in place that is
// out_stride - in_stride, as the output rows are the longer. With a
// callback, it is asked (r, rows) before row r.
struct RowSpan {
    uint32_t rows;
    uint32_t width;
    uint32_t pad;
    uint32_t in_stride;
    uint32_t out_stride;
    uint32_t lead;
    uint32_t lead_step;
    ProgressCallback progress;
    LONG_PTR user;
};

// Converts the span's rows from `in` into triples at `out`, each row followed
// by `pad` zero bytes, on `path` or a narrower one where the rows are too
// short for it. Returns 0 when the callback asks to stop.
int convert_span(uint8_t *out, const uint8_t *in, const RowSpan *span, const PixelLanes *lanes,
                 int path);

// The decoder's framing of the span; the tests' and benchmarks' own one,
// between two arrays, is in bmp16_convert_testing.h.

// Converts a whole picture in place in `block` (layout->out_size bytes, the
// input rows in its last layout->in_size bytes), no store reaching input not
// yet read; reports (i, height) before row i and (height, height) at the end.
// Returns 0 when the callback asks to stop.
inline int convert_picture(uint8_t *block, const PixelLayout *layout, const PixelLanes *lanes,
                           int path, ProgressCallback progress, LONG_PTR user) {
    const uint32_t height = layout->height;
    // The input rows end where the block ends, so the first row's input lies
    // out_size - in_size bytes ahead of its output.
    const uint32_t in_start = layout->out_size - layout->in_size;
    const RowSpan span = {height,
                          layout->width,
                          layout->pad,
                          layout->in_stride,
                          layout->out_stride,
                          in_start,
                          layout->out_stride - layout->in_stride,
                          progress,
                          user};
    if (!convert_span(block, block + in_start, &span, lanes, path)) return 0;
    return !(progress && progress((int32_t)height, (int32_t)height, user));
}
