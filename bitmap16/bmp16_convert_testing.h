// What the tests and benchmarks call in the conversion beside the decoder:
// the best path for any picture, the conversion between two arrays and the
// paths' names. No plug-in includes it.
#pragma once

#include <stdint.h>

#include "bmp16_convert.h"

// The path for a picture that every path may take: the fastest this
// processor has and this system saves the registers of (convert_path_for,
// whose exemptions for narrow and small pictures do not apply).
inline int convert_best_path(void) {
    PixelLayout any = {};
    any.width = CONVERT_VECTOR_MIN_WIDTH;
    any.height = (uint32_t)(CONVERT_PROCESSOR_MIN_PIXELS / CONVERT_VECTOR_MIN_WIDTH);
    return convert_path_for(&any);
}

// The name of a path for reports: "scalar", "SSSE3" or "AVX2".
inline const char *convert_path_name(int path) {
    if (path == CONVERT_AVX2) return "AVX2";
    if (path == CONVERT_SSSE3) return "SSSE3";
    return "scalar";
}

// Converts `rows` rows of `width` pixels from `in`, rows `in_stride` bytes
// apart, into triples at `out`, rows `out_stride` apart, each followed by
// `pad` zero bytes. Input and output do not overlap.
inline void convert_rows(uint8_t *out, uint32_t out_stride, const uint8_t *in,
                         uint32_t in_stride, uint32_t rows, uint32_t width, uint32_t pad,
                         const PixelLanes *lanes, int path) {
    // Apart, no store can reach input not yet read.
    const RowSpan span = {rows, width, pad, in_stride, out_stride, UINT32_MAX, 0, nullptr, 0};
    convert_span(out, in, &span, lanes, path);
}
