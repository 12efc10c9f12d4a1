#include "bmp16_convert.h"

#include <string.h>

#include "checked.h"

#if defined(__i386__) || defined(__x86_64__)
#define BMP16_X86 1
#include <immintrin.h>
#endif

namespace {

// Channel c (0 blue, 1 green, 2 red) of pixel p, as PixelLanes describes.
inline uint32_t lane_channel(uint32_t p, const PixelLanes *lanes, int c) {
    return ((p & lanes->mask[c]) << lanes->lift[c]) * lanes->factor[c] >> 16;
}

void convert_pixels_scalar(uint8_t *out, const uint8_t *in, uint32_t count,
                           const PixelLanes *lanes) {
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t p = (uint32_t)in[0] | (uint32_t)in[1] << 8;
        uint32_t blue = lane_channel(p, lanes, 0);
        uint32_t green = lane_channel(p, lanes, 1);
        uint32_t red = lane_channel(p, lanes, 2);
        // 0xFFFF is white whatever the masks say; 0 is black by the lanes.
        if (p == 0xFFFF) blue = green = red = 0xFF;
        out[0] = (uint8_t)blue;
        out[1] = (uint8_t)green;
        out[2] = (uint8_t)red;
        in += 2;
        out += 3;
    }
}

#ifdef BMP16_X86

// The SSSE3 groups turn sixteen pixels into three vectors: blue | green << 8
// in the 16-bit lanes of one vector for pixels 0-7 and of another for pixels
// 8-15, and the reds, pixel i's in byte 2i and pixel i + 8's in byte 2i + 1. Byte shuffles then lay them out as 48 bytes of triples:
// TRIPLES.m[v][s] picks, for output vector v, the bytes of source s (0 the
// first blue-green vector, 1 the second, 2 the reds), 0x80 leaving a zero.
struct TripleMasks {
    uint8_t m[3][3][16];
};

constexpr TripleMasks make_triple_masks() {
    TripleMasks masks{};
    for (int v = 0; v < 3; ++v)
        for (int s = 0; s < 3; ++s)
            for (int i = 0; i < 16; ++i) {
                int at = 16 * v + i, pixel = at / 3, channel = at % 3;
                int source = channel == 2 ? 2 : pixel / 8;
                int index = channel == 2 ? 2 * (pixel % 8) + pixel / 8 : 2 * (pixel % 8) + channel;
                masks.m[v][s][i] = (uint8_t)(source == s ? index : 0x80);
            }
    return masks;
}

alignas(16) constexpr TripleMasks TRIPLES = make_triple_masks();

// A 32-bit Windows host may call with the stack aligned to 4 bytes only; the
// vector spills need 16, or 32 for the AVX2 ones.
#ifdef __i386__
#define BMP16_ALIGN_STACK __attribute__((force_align_arg_pointer, noinline))
#else
#define BMP16_ALIGN_STACK
#endif

__attribute__((target("ssse3"))) inline __m128i load16(const uint8_t *p) {
    return _mm_loadu_si128((const __m128i *)p);
}

// One channel of eight pixels in 16-bit lanes.
__attribute__((target("ssse3"))) inline __m128i channel_ssse3(__m128i p, __m128i mask, __m128i lift,
                                                             __m128i factor) {
    return _mm_mulhi_epu16(_mm_sll_epi16(_mm_and_si128(p, mask), lift), factor);
}

// Converts `groups` runs of 16 pixels: 32 bytes are loaded before 48 are
// stored. WHITE adds the test for 0xFFFF that lanes->white_by_lanes makes
// needless.
template <bool WHITE>
__attribute__((target("ssse3"))) BMP16_ALIGN_STACK void convert_groups_ssse3(
    uint8_t *out, const uint8_t *in, uint32_t groups, const PixelLanes *lanes) {
    const __m128i all_ones = _mm_set1_epi8(-1);
    __m128i mask[3], lift[3], factor[3];
    for (int c = 0; c < 3; ++c) {
        mask[c] = _mm_set1_epi16((short)lanes->mask[c]);
        lift[c] = _mm_cvtsi32_si128(lanes->lift[c]);
        factor[c] = _mm_set1_epi16((short)lanes->factor[c]);
    }
    for (uint32_t g = 0; g < groups; ++g) {
        __m128i a = load16(in);
        __m128i b = load16(in + 16);
        __m128i bg_a = _mm_or_si128(channel_ssse3(a, mask[0], lift[0], factor[0]),
                                    _mm_slli_epi16(channel_ssse3(a, mask[1], lift[1], factor[1]), 8));
        __m128i bg_b = _mm_or_si128(channel_ssse3(b, mask[0], lift[0], factor[0]),
                                    _mm_slli_epi16(channel_ssse3(b, mask[1], lift[1], factor[1]), 8));
        __m128i red = _mm_or_si128(channel_ssse3(a, mask[2], lift[2], factor[2]),
                                   _mm_slli_epi16(channel_ssse3(b, mask[2], lift[2], factor[2]), 8));
        if (WHITE) {
            __m128i white_a = _mm_cmpeq_epi16(a, all_ones);
            __m128i white_b = _mm_cmpeq_epi16(b, all_ones);
            bg_a = _mm_or_si128(bg_a, white_a);
            bg_b = _mm_or_si128(bg_b, white_b);
            red = _mm_or_si128(red, _mm_or_si128(_mm_srli_epi16(white_a, 8), _mm_slli_epi16(white_b, 8)));
        }
        __m128i o0 = _mm_or_si128(_mm_shuffle_epi8(bg_a, load16(TRIPLES.m[0][0])),
                                  _mm_shuffle_epi8(red, load16(TRIPLES.m[0][2])));
        __m128i o1 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(bg_a, load16(TRIPLES.m[1][0])),
                                               _mm_shuffle_epi8(bg_b, load16(TRIPLES.m[1][1]))),
                                  _mm_shuffle_epi8(red, load16(TRIPLES.m[1][2])));
        __m128i o2 = _mm_or_si128(_mm_shuffle_epi8(bg_b, load16(TRIPLES.m[2][1])),
                                  _mm_shuffle_epi8(red, load16(TRIPLES.m[2][2])));
        _mm_storeu_si128((__m128i *)out, o0);
        _mm_storeu_si128((__m128i *)(out + 16), o1);
        _mm_storeu_si128((__m128i *)(out + 32), o2);
        in += 32;
        out += 48;
    }
}

// Sixteen pixels at `in` into 48 bytes at `out`, in four stores of 16 bytes
// 12 apart, so that each store's last 4 bytes (zeros) are written over by the
// next. The last store's reach 4 bytes past the 48 unless EXACT, where it is
// split into 8 bytes and 4.
template <bool WHITE, int LOW, bool EXACT>
__attribute__((target("avx2"))) inline void convert_16_avx2(uint8_t *out, const uint8_t *in,
                                                            const __m256i *mask,
                                                            const __m256i *factor, __m256i squeeze) {
    __m256i p = _mm256_loadu_si256((const __m256i *)in);
    __m256i p8 = _mm256_slli_epi16(p, 8);
    __m256i slot[3];
    for (int k = 0; k < 3; ++k)
        slot[k] = _mm256_mulhi_epu16(_mm256_and_si256(k < LOW ? p8 : p, mask[k]), factor[k]);
    __m256i pair = _mm256_or_si256(slot[0], _mm256_slli_epi16(slot[1], 8));
    __m256i third = slot[2];
    if (WHITE) {
        __m256i white = _mm256_cmpeq_epi16(p, _mm256_set1_epi8(-1));
        pair = _mm256_or_si256(pair, white);
        third = _mm256_or_si256(third, _mm256_srli_epi16(white, 8));
    }
    // Pixels 0-3 and 8-11, then 4-7 and 12-15, as slot 0, 1, 2 and a zero.
    __m256i lo = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(pair, third), squeeze);
    __m256i hi = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(pair, third), squeeze);
    _mm_storeu_si128((__m128i *)out, _mm256_castsi256_si128(lo));
    _mm_storeu_si128((__m128i *)(out + 12), _mm256_castsi256_si128(hi));
    _mm_storeu_si128((__m128i *)(out + 24), _mm256_extracti128_si256(lo, 1));
    __m128i last = _mm256_extracti128_si256(hi, 1);
    if (EXACT) {
        _mm_storel_epi64((__m128i *)(out + 36), last);
        uint32_t tail = (uint32_t)_mm_extract_epi32(last, 2);
        memcpy(out + 44, &tail, 4);
    } else {
        _mm_storeu_si128((__m128i *)(out + 36), last);
    }
}

// Converts `units` runs of 16 pixels, each loading its 32 bytes before it
// stores its 48. All but the last store 4 bytes further, which the next
// covers.
template <bool WHITE, int LOW>
__attribute__((target("avx2"))) BMP16_ALIGN_STACK void convert_units_avx2(
    uint8_t *out, const uint8_t *in, uint32_t units, const PixelLanes *lanes) {
    __m256i mask[3], factor[3];
    for (int k = 0; k < 3; ++k) {
        mask[k] = _mm256_set1_epi16((short)lanes->slot_mask[k]);
        factor[k] = _mm256_set1_epi16((short)lanes->slot_factor[k]);
    }
    const __m256i squeeze =
        _mm256_broadcastsi128_si256(_mm_loadu_si128((const __m128i *)lanes->slot_squeeze));
    for (; units >= 3; units -= 2) {
        convert_16_avx2<WHITE, LOW, false>(out, in, mask, factor, squeeze);
        convert_16_avx2<WHITE, LOW, false>(out + 48, in + 32, mask, factor, squeeze);
        in += 64;
        out += 96;
    }
    if (units == 2) {
        convert_16_avx2<WHITE, LOW, false>(out, in, mask, factor, squeeze);
        in += 32;
        out += 48;
    }
    convert_16_avx2<WHITE, LOW, true>(out, in, mask, factor, squeeze);
}

// `units` at least 1.
template <bool WHITE>
void convert_slots_avx2(uint8_t *out, const uint8_t *in, uint32_t units, const PixelLanes *lanes) {
    switch (lanes->slot_low) {
    case 0: convert_units_avx2<WHITE, 0>(out, in, units, lanes); break;
    case 1: convert_units_avx2<WHITE, 1>(out, in, units, lanes); break;
    case 2: convert_units_avx2<WHITE, 2>(out, in, units, lanes); break;
    default: convert_units_avx2<WHITE, 3>(out, in, units, lanes); break;
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

void derive_pixel_lanes(const ChannelScale *red, const ChannelScale *green,
                        const ChannelScale *blue, PixelLanes *lanes) {
    const ChannelScale *scales[3] = {blue, green, red};
    for (uint32_t c = 0; c < 3; ++c) {
        const ChannelScale *s = scales[c];
        uint32_t lift = 0, factor = 0;
        if (s->mask != 0) {
            uint32_t top = 31 - (uint32_t)__builtin_clz(s->mask);
            if (top < 15) {
                lift = 15 - top;
                top = 15;
            }
            // A copy `at` bits below the first is the masked value moved
            // right by top - 7 + at, which the high half gives for a factor
            // of 1 << (23 - top - at); one moved right by 16 or more is 0.
            for (uint32_t at = 0; at < 8 && top + at <= 23; at += s->width)
                factor |= 1u << (23 - top - at);
        }
        lanes->mask[c] = (uint16_t)s->mask;
        lanes->lift[c] = (uint16_t)lift;
        lanes->factor[c] = (uint16_t)factor;
    }
    lanes->white_by_lanes = 1;
    for (int c = 0; c < 3; ++c)
        if (lane_channel(0xFFFF, lanes, c) != 0xFF) lanes->white_by_lanes = 0;
    int slot_of[3];
    int next = 0;
    lanes->slot_low = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (int c = 0; c < 3; ++c) {
            int low = lanes->lift[c] >= 8;
            if (low != (pass == 0)) continue;
            uint32_t shift = low ? 8 : 0;
            lanes->slot_mask[next] = (uint16_t)(lanes->mask[c] << shift);
            lanes->slot_factor[next] = (uint16_t)(lanes->factor[c] << (lanes->lift[c] - shift));
            lanes->slot_low += low;
            slot_of[c] = next++;
        }
    for (int i = 0; i < 16; ++i)
        lanes->slot_squeeze[i] = (uint8_t)(i < 12 ? 4 * (i / 3) + slot_of[i % 3] : 0x80);
}

// Asked on every call, of what the system learned about the processor at
// start-up: nothing is remembered between calls, and no CPUID is run, which
// in a virtual machine can cost more than a small picture's whole decode.
int convert_best_path(void) {
#ifdef BMP16_X86
    // The answer for AVX2 also says that the system saves the 256-bit registers.
    if (IsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE)) return CONVERT_AVX2;
    if (IsProcessorFeaturePresent(PF_SSSE3_INSTRUCTIONS_AVAILABLE)) return CONVERT_SSSE3;
#endif
    return CONVERT_SCALAR;
}

const char *convert_path_name(int path) {
    if (path == CONVERT_AVX2) return "AVX2";
    if (path == CONVERT_SSSE3) return "SSSE3";
    return "scalar";
}

void convert_row(uint8_t *out, const uint8_t *in, uint32_t width, uint32_t pad, uint32_t lead,
                 const PixelLanes *lanes, int path) {
    uint32_t done = 0;
#ifdef BMP16_X86
    // A group of n pixels at pixel k stores up to output byte 3k + 3n once
    // input byte 2k + 2n is read; the next unread input is at lead + 2k + 2n,
    // so a group may start only while k + n <= lead. Groups read exactly
    // their own pixels, never the row's padding or what follows it.
    uint32_t room = width < lead ? width : lead;
    if (path >= CONVERT_AVX2) {
        // Runs of 16 pixels; each but the last stores 4 bytes further, to
        // 3k + 52, which stays below the next unread input at lead + 2k + 32
        // and within the row as at least 16 more pixels follow.
        uint32_t units = room / 16;
        if (units && lanes->white_by_lanes)
            convert_slots_avx2<false>(out, in, units, lanes);
        else if (units)
            convert_slots_avx2<true>(out, in, units, lanes);
        done = units * 16;
    }
    if (path == CONVERT_SSSE3) {
        uint32_t groups = (room - done) / 16;
        uint8_t *to = out + (size_t)3 * done;
        const uint8_t *from = in + (size_t)2 * done;
        if (groups && lanes->white_by_lanes)
            convert_groups_ssse3<false>(to, from, groups, lanes);
        else if (groups)
            convert_groups_ssse3<true>(to, from, groups, lanes);
        done += groups * 16;
    }
#else
    (void)lead;
    (void)path;
#endif
    convert_pixels_scalar(out + (size_t)3 * done, in + (size_t)2 * done, width - done, lanes);
    memset(out + (size_t)3 * width, 0, pad);
}

int convert_picture(uint8_t *block, const PixelLayout *layout, const PixelLanes *lanes,
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
        convert_row(block + out_pos, block + in_pos, width, pad, in_pos - out_pos, lanes, path);
        in_pos += in_stride;
        out_pos += out_stride;
    }
    if (progress && progress((int32_t)height, (int32_t)height, user)) return 0;
    return 1;
}
