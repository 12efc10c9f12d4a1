#include "bmp16_convert.h"

#include <string.h>

#include "checked.h"

#if defined(__i386__) || defined(__x86_64__)
#define BMP16_X86 1
#include <tmmintrin.h>
#endif

namespace {

// The blue, green and red bytes of one pixel, packed for the tables.
uint32_t pack_triple(uint32_t p, const ChannelScale *red, const ChannelScale *green,
                     const ChannelScale *blue) {
    return (uint32_t)expand_channel(p, blue) | (uint32_t)expand_channel(p, green) << 8 |
           (uint32_t)expand_channel(p, red) << 16;
}

void convert_pixels_scalar(uint8_t *out, const uint8_t *in, uint32_t count,
                           const PixelTables *tables) {
    const uint32_t *low = tables->low;
    const uint32_t *high = tables->high;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t lo = in[0];
        uint32_t hi = in[1];
        uint32_t v = low[lo] | high[hi];
        // 0xFFFF is white whatever the masks say; 0 is black by the tables.
        if ((lo & hi) == 0xFF) v = 0xFFFFFF;
        out[0] = (uint8_t)v;
        out[1] = (uint8_t)(v >> 8);
        out[2] = (uint8_t)(v >> 16);
        in += 2;
        out += 3;
    }
}

#ifdef BMP16_X86

// Byte shuffles that interleave 16 blue, 16 green and 16 red bytes into 48
// bytes of triples: INTERLEAVE.m[v][c] picks channel c's bytes for output
// vector v, 0x80 leaving a zero.
struct InterleaveMasks {
    uint8_t m[3][3][16];
};

constexpr InterleaveMasks make_interleave_masks() {
    InterleaveMasks masks{};
    for (int v = 0; v < 3; ++v)
        for (int c = 0; c < 3; ++c)
            for (int j = 0; j < 16; ++j) {
                int at = 16 * v + j;
                masks.m[v][c][j] = (uint8_t)(at % 3 == c ? at / 3 : 0x80);
            }
    return masks;
}

alignas(16) constexpr InterleaveMasks INTERLEAVE = make_interleave_masks();

__attribute__((target("ssse3"))) inline __m128i load16(const uint8_t *p) {
    return _mm_loadu_si128((const __m128i *)p);
}

// Interleaves 16 blue, green and red bytes into 48 bytes of triples at `out`.
__attribute__((target("ssse3"))) inline void store_triples_ssse3(uint8_t *out, __m128i blue,
                                                                __m128i green, __m128i red,
                                                                const __m128i mix[3][3]) {
    for (int v = 0; v < 3; ++v) {
        __m128i o = _mm_or_si128(
            _mm_or_si128(_mm_shuffle_epi8(blue, mix[v][0]), _mm_shuffle_epi8(green, mix[v][1])),
            _mm_shuffle_epi8(red, mix[v][2]));
        _mm_storeu_si128((__m128i *)(out + 16 * v), o);
    }
}

__attribute__((target("ssse3"))) inline __m128i channel_ssse3(const __m128i table[4], __m128i d0,
                                                            __m128i d1, __m128i d2, __m128i d3,
                                                            __m128i white) {
    __m128i a = _mm_or_si128(_mm_shuffle_epi8(table[0], d0), _mm_shuffle_epi8(table[1], d1));
    __m128i b = _mm_or_si128(_mm_shuffle_epi8(table[2], d2), _mm_shuffle_epi8(table[3], d3));
    return _mm_or_si128(_mm_or_si128(a, b), white);
}

// A 32-bit Windows host may call with the stack aligned to 4 bytes only; the
// vector spills need 16.
#ifdef __i386__
#define BMP16_ALIGN_STACK __attribute__((force_align_arg_pointer, noinline))
#else
#define BMP16_ALIGN_STACK
#endif

// Converts `groups` runs of 16 pixels: 32 bytes are loaded before 48 are stored.
__attribute__((target("ssse3"))) BMP16_ALIGN_STACK void convert_groups_ssse3(uint8_t *out, const uint8_t *in,
                                                          uint32_t groups,
                                                          const PixelTables *tables) {
    const __m128i digit_mask = _mm_set1_epi8(0x0F);
    const __m128i low_byte = _mm_set1_epi16(0x00FF);
    const __m128i all_ones = _mm_set1_epi8(-1);
    __m128i blue_t[4], green_t[4], red_t[4];
    for (int n = 0; n < 4; ++n) {
        blue_t[n] = load16(tables->digit[0][n]);
        green_t[n] = load16(tables->digit[1][n]);
        red_t[n] = load16(tables->digit[2][n]);
    }
    __m128i mix[3][3];
    for (int v = 0; v < 3; ++v)
        for (int c = 0; c < 3; ++c) mix[v][c] = load16(INTERLEAVE.m[v][c]);

    for (uint32_t g = 0; g < groups; ++g) {
        __m128i a = load16(in);
        __m128i b = load16(in + 16);
        __m128i lo = _mm_packus_epi16(_mm_and_si128(a, low_byte), _mm_and_si128(b, low_byte));
        __m128i hi = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
        __m128i d0 = _mm_and_si128(lo, digit_mask);
        __m128i d1 = _mm_and_si128(_mm_srli_epi16(lo, 4), digit_mask);
        __m128i d2 = _mm_and_si128(hi, digit_mask);
        __m128i d3 = _mm_and_si128(_mm_srli_epi16(hi, 4), digit_mask);
        __m128i white = _mm_cmpeq_epi8(_mm_and_si128(lo, hi), all_ones);
        __m128i blue = channel_ssse3(blue_t, d0, d1, d2, d3, white);
        __m128i green = channel_ssse3(green_t, d0, d1, d2, d3, white);
        __m128i red = channel_ssse3(red_t, d0, d1, d2, d3, white);
        store_triples_ssse3(out, blue, green, red, mix);
        in += 32;
        out += 48;
    }
}

__attribute__((target("ssse3"))) inline __m128i lanes_ssse3(__m128i a, __m128i b, __m128i mask,
                                                          __m128i lift, __m128i factor) {
    __m128i ca = _mm_mulhi_epu16(_mm_sll_epi16(_mm_and_si128(a, mask), lift), factor);
    __m128i cb = _mm_mulhi_epu16(_mm_sll_epi16(_mm_and_si128(b, mask), lift), factor);
    return _mm_packus_epi16(ca, cb);
}

// The same as convert_groups_ssse3 for masks within the low 16 bits, by
// multiplication in 16-bit lanes instead of digit lookups.
__attribute__((target("ssse3"))) BMP16_ALIGN_STACK void convert_lanes_ssse3(uint8_t *out,
                                                                         const uint8_t *in,
                                                                         uint32_t groups,
                                                                         const PixelTables *tables) {
    const __m128i all_ones = _mm_set1_epi8(-1);
    __m128i mask[3], lift[3], factor[3];
    for (int c = 0; c < 3; ++c) {
        mask[c] = _mm_set1_epi16((short)tables->lane_mask[c]);
        lift[c] = _mm_cvtsi32_si128(tables->lane_lift[c]);
        factor[c] = _mm_set1_epi16((short)tables->lane_factor[c]);
    }
    __m128i mix[3][3];
    for (int v = 0; v < 3; ++v)
        for (int c = 0; c < 3; ++c) mix[v][c] = load16(INTERLEAVE.m[v][c]);

    for (uint32_t g = 0; g < groups; ++g) {
        __m128i a = load16(in);
        __m128i b = load16(in + 16);
        __m128i white = _mm_packs_epi16(_mm_cmpeq_epi16(a, all_ones), _mm_cmpeq_epi16(b, all_ones));
        __m128i blue = _mm_or_si128(lanes_ssse3(a, b, mask[0], lift[0], factor[0]), white);
        __m128i green = _mm_or_si128(lanes_ssse3(a, b, mask[1], lift[1], factor[1]), white);
        __m128i red = _mm_or_si128(lanes_ssse3(a, b, mask[2], lift[2], factor[2]), white);
        store_triples_ssse3(out, blue, green, red, mix);
        in += 32;
        out += 48;
    }
}

#endif

}  // namespace

ChannelScale derive_channel_scale(uint32_t mask) {
    ChannelScale scale = {mask, CHANNEL_NONE, 0, 0};
    if (mask == 0) return scale;
    uint32_t high = 32 - (uint32_t)__builtin_clz(mask);
    uint32_t low = (uint32_t)__builtin_ctz(mask);
    scale.width = high - low;
    if (high > 8) {
        scale.mode = CHANNEL_RIGHT;
        scale.shift = high - 8;
    } else if (high < 8) {
        scale.mode = CHANNEL_LEFT;
        scale.shift = 8 - high;
    }
    return scale;
}

uint8_t expand_channel(uint32_t p, const ChannelScale *scale) {
    // A zero mask has no bits to repeat; stepping by its width 0 would never end.
    if (scale->width == 0) return 0;
    uint32_t v = p & scale->mask;
    if (scale->mode == CHANNEL_LEFT) v <<= scale->shift;
    if (scale->mode == CHANNEL_RIGHT) v >>= scale->shift;
    uint32_t acc = v;
    int32_t remaining = 8;
    for (;;) {
        remaining -= (int32_t)scale->width;
        if (remaining <= 0) break;
        v >>= scale->width;
        acc |= v;
    }
    return (uint8_t)acc;
}

int derive_pixel_layout(uint32_t width, uint32_t height, PixelLayout *layout) {
    uint32_t in_bytes, in_stride, out_bytes, out_stride, in_size, out_size;
    if (!checked_mul_u32(width, 2, &in_bytes) || !checked_add_u32(in_bytes, 3, &in_stride))
        return 0;
    in_stride &= ~3u;
    if (!checked_mul_u32(width, 3, &out_bytes)) return 0;
    uint32_t pad = (0u - out_bytes) & 3u;
    if (!checked_add_u32(out_bytes, pad, &out_stride)) return 0;
    if (!checked_mul_u32(in_stride, height, &in_size)) return 0;
    if (!checked_mul_u32(out_stride, height, &out_size)) return 0;
    layout->width = width;
    layout->height = height;
    layout->in_stride = in_stride;
    layout->out_stride = out_stride;
    layout->pad = pad;
    layout->in_size = in_size;
    layout->out_size = out_size;
    return 1;
}

void build_pixel_tables(const ChannelScale *red, const ChannelScale *green,
                        const ChannelScale *blue, PixelTables *tables) {
    uint32_t *low = tables->low;
    uint32_t *high = tables->high;
    low[0] = 0;
    high[0] = 0;
    // Entry n + j, for j below the single bit n, is entry j with bit n added.
    for (uint32_t bit = 0; bit < 8; ++bit) {
        uint32_t n = 1u << bit;
        uint32_t low_bit = pack_triple(n, red, green, blue);
        uint32_t high_bit = pack_triple(n << 8, red, green, blue);
        for (uint32_t j = 0; j < n; ++j) {
            low[n + j] = low[j] | low_bit;
            high[n + j] = high[j] | high_bit;
        }
    }
    const ChannelScale *scales[3] = {blue, green, red};
    tables->lanes_fit = 1;
    for (uint32_t c = 0; c < 3; ++c) {
        const ChannelScale *s = scales[c];
        uint32_t lift = 0, factor = 0;
        if (s->mask >> 16) {
            tables->lanes_fit = 0;
        } else if (s->mask != 0) {
            lift = (uint32_t)__builtin_clz(s->mask) - 16;
            for (uint32_t at = 0; at < 8; at += s->width) factor |= 1u << (8 - at);
        }
        tables->lane_mask[c] = (uint16_t)s->mask;
        tables->lane_lift[c] = (uint16_t)lift;
        tables->lane_factor[c] = (uint16_t)factor;
    }
    for (uint32_t x = 0; x < 16; ++x) {
        for (uint32_t c = 0; c < 3; ++c) {
            uint32_t shift = 8 * c;
            tables->digit[c][0][x] = (uint8_t)(low[x] >> shift);
            tables->digit[c][1][x] = (uint8_t)(low[x << 4] >> shift);
            tables->digit[c][2][x] = (uint8_t)(high[x] >> shift);
            tables->digit[c][3][x] = (uint8_t)(high[x << 4] >> shift);
        }
    }
}

// Asked on every call, of what the system learned about the processor at
// start-up: nothing is remembered between calls, and no CPUID is run, which
// in a virtual machine can cost more than a small picture's whole decode.
int convert_best_path(void) {
#ifdef BMP16_X86
    if (IsProcessorFeaturePresent(PF_SSSE3_INSTRUCTIONS_AVAILABLE)) return CONVERT_SSSE3;
#endif
    return CONVERT_SCALAR;
}

void convert_row(uint8_t *out, const uint8_t *in, uint32_t width, uint32_t pad, uint32_t lead,
                 const PixelTables *tables, int path) {
    uint32_t done = 0;
#ifdef BMP16_X86
    if (path == CONVERT_SSSE3) {
        // A group at pixel k stores up to output byte 3k + 48 once input byte
        // 2k + 32 is read; the next unread input is at lead + 2k + 32, so a
        // group may start only while k + 16 <= lead.
        uint32_t room = width < lead ? width : lead;
        uint32_t groups = room / 16;
        if (tables->lanes_fit)
            convert_lanes_ssse3(out, in, groups, tables);
        else
            convert_groups_ssse3(out, in, groups, tables);
        done = groups * 16;
    }
#else
    (void)lead;
    (void)path;
#endif
    convert_pixels_scalar(out + (size_t)3 * done, in + (size_t)2 * done, width - done, tables);
    memset(out + (size_t)3 * width, 0, pad);
}

int convert_picture(uint8_t *block, const PixelLayout *layout, const PixelTables *tables,
                    int path, ProgressCallback progress, LONG_PTR user) {
    const uint32_t width = layout->width;
    const uint32_t height = layout->height;
    const uint32_t in_stride = layout->in_stride;
    const uint32_t out_stride = layout->out_stride;
    const uint32_t pad = layout->pad;
    // The input rows end where the block ends; each row read moves the
    // unread input in_stride on while the output moves out_stride.
    uint32_t in_pos = layout->out_size - layout->in_size;
    uint32_t out_pos = 0;
    for (uint32_t i = 0; i < height; ++i) {
        if (progress && progress((int32_t)i, (int32_t)height, user)) return 0;
        convert_row(block + out_pos, block + in_pos, width, pad, in_pos - out_pos, tables, path);
        in_pos += in_stride;
        out_pos += out_stride;
    }
    if (progress && progress((int32_t)height, (int32_t)height, user)) return 0;
    return 1;
}
