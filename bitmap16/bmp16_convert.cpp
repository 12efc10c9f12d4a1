// The conversion of 16-bit bit-field pixels into 24-bit triples. Its
// sections, in order:
//
//   1. The lanes: each channel's mask, shift and factor, worked out once a
//      picture (derive_channel_scale, derive_pixel_lanes).
//   2. The scalar path: pixels one by one, and the row loop and row ends that
//      every path shares (report_rows, finish_row). ARM64 and rows narrower
//      than a vector group take only this path.
//   3. The SSSE3 path (x86): groups of 16 pixels, three 16-byte stores each.
//   4. The AVX2 path (x86): runs of 32 pixels, three 32-byte stores each,
//      with SSSE3 groups and single pixels where a row leaves no room for one.
//   5. Choosing the path: convert_span sends a span down the path it may
//      take; convert_path_for asks the system which paths the processor
//      runs, and where it does not say, the processor.
//
// The picture's geometry (derive_pixel_layout) belongs to its header and is
// in bmp16_header.cpp.
#include "bmp16_convert.h"

#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#define BMP16_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

// --- 1. the lanes ----------------------------------------------------------

namespace {

// Channel c (0 blue, 1 green, 2 red) of pixel p, as PixelLanes describes.
inline uint32_t lane_channel(uint32_t p, const PixelLanes *lanes, int c) {
    return ((p << lanes->shift[c]) & lanes->mask[c]) * lanes->factor[c] >> 16;
}

}  // namespace

ChannelScale derive_channel_scale(uint32_t mask) {
    ChannelScale scale = {mask, 0};
    if (mask == 0) return scale;
    uint32_t high = 32 - (uint32_t)__builtin_clz(mask);
    uint32_t low = (uint32_t)__builtin_ctz(mask);
    scale.width = high - low;
    return scale;
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
            // A copy `at` bits below the first is the lifted value moved
            // right by top - 7 + at, which the high half gives for a factor
            // of 1 << (23 - top - at); one moved right by 16 or more is 0.
            for (uint32_t at = 0; at < 8 && top + at <= 23; at += s->width)
                factor |= 1u << (23 - top - at);
        }
        // The factor is below 1 << 9, so lifted by at most 7 it fits in 16
        // bits; a lift of 8 or more belongs to a mask within the low byte,
        // which moves up by 8 instead.
        uint32_t shift = lift >= 8 ? 8 : 0;
        lanes->mask[c] = (uint16_t)((s->mask & 0xFFFF) << shift);
        lanes->shift[c] = (uint16_t)shift;
        lanes->factor[c] = (uint16_t)(factor << (lift - shift));
    }
    lanes->white_by_lanes = 1;
    for (int c = 0; c < 3; ++c)
        if (lane_channel(0xFFFF, lanes, c) != 0xFF) lanes->white_by_lanes = 0;
}

// --- 2. the scalar path and the rows every path shares ---------------------

namespace {

inline void convert_pixels_scalar(uint8_t *out, const uint8_t *in, uint32_t count,
                                  const PixelLanes *lanes) {
    // A copy the stores below cannot reach, so that it stays in registers.
    const PixelLanes l = *lanes;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t p = (uint32_t)in[0] | (uint32_t)in[1] << 8;
        uint32_t blue = lane_channel(p, &l, 0);
        uint32_t green = lane_channel(p, &l, 1);
        uint32_t red = lane_channel(p, &l, 2);
        // 0xFFFF is white whatever the masks say; 0 is black by the lanes.
        if (p == 0xFFFF) blue = green = red = 0xFF;
        out[0] = (uint8_t)blue;
        out[1] = (uint8_t)green;
        out[2] = (uint8_t)red;
        in += 2;
        out += 3;
    }
}

// The zero bytes that end an output row: at most 3. Written out rather than
// as a loop, which the compiler makes a call to memset, and a call in the
// vector paths' row loops costs more than the row.
inline void write_pad(uint8_t *out, uint32_t pad) {
    if (pad > 0) out[0] = 0;
    if (pad > 1) out[1] = 0;
    if (pad > 2) out[2] = 0;
}

// Runs `rows_of`, a path's row loop with what it has set up in `setup`,
// over the span: all rows in one call without a callback, so that the loop
// keeps its numbers in registers throughout; else one row a call, asking the
// callback before each. Returns 0 when it asks to stop.
template <typename Setup>
int report_rows(uint8_t *out, const uint8_t *in, const RowSpan *span, const Setup *setup,
                void (*rows_of)(uint8_t *, const uint8_t *, const RowSpan *, const Setup *)) {
    if (!span->progress) {
        rows_of(out, in, span, setup);
        return 1;
    }
    RowSpan one = *span;
    one.rows = 1;
    for (uint32_t r = 0; r < span->rows; ++r) {
        if (span->progress((int32_t)r, (int32_t)span->rows, span->user)) return 0;
        rows_of(out, in, &one, setup);
        out += span->out_stride;
        in += span->in_stride;
        one.lead -= span->lead_step;
    }
    return 1;
}

// Ends a row whose first `done` pixels are converted: the rest one by one,
// then the pad.
inline void finish_row(uint8_t *out, const uint8_t *in, size_t done, const RowSpan *span,
                       const PixelLanes *lanes) {
    convert_pixels_scalar(out + 3 * done, in + 2 * done, (uint32_t)(span->width - done), lanes);
    write_pad(out + (size_t)3 * span->width, span->pad);
}

void rows_scalar(uint8_t *out, const uint8_t *in, const RowSpan *span, const PixelLanes *lanes) {
    for (uint32_t r = 0; r < span->rows; ++r) {
        finish_row(out, in, 0, span, lanes);
        out += span->out_stride;
        in += span->in_stride;
    }
}

}  // namespace

#ifdef BMP16_X86

// --- 3. the SSSE3 path -----------------------------------------------------

namespace {

// A 32-bit Windows host may call with the stack aligned to 4 bytes only; the
// vector spills need 16, or 32 for the AVX2 ones.
#ifdef __i386__
#define BMP16_ALIGN_STACK __attribute__((force_align_arg_pointer, noinline))
#else
#define BMP16_ALIGN_STACK
#endif

// A vector group of n pixels at pixel k loads input bytes 2k to 2k + 2n and
// only then stores output bytes 3k to 3k + 3n; the next unread input is at
// lead + 2k + 2n, so the group may run only while k + n <= lead. Groups read
// and write exactly their own pixels, never a row's padding or what follows.
inline uint32_t vector_room(uint32_t width, uint32_t lead) { return width < lead ? width : lead; }

// A group of 16 pixels makes 48 output bytes, three chunks of 16. Chunk r
// takes its pixels from the 8 that start at pixel 4r (input byte 8r), which
// hold all it needs: its byte j is channel (16r + j) % 3 of pixel
// (16r + j) / 3. Each chunk is made as two halves of eight 16-bit lanes, the
// lane for byte j in half j / 8, packed to bytes at the end. One byte
// shuffle puts each lane's pixel in it, as it is or moved up by 8 as its
// channel asks (PixelLanes.shift); then one AND and one multiply give the
// channel, as the scalar path does.
//
// Lane i of half h of chunk r is channel (16r + 8h + i) % 3 = (r + 2h + i) % 3,
// so the channels follow one of three patterns, p = (r + 2h) % 3.
struct ChunkTables {
    uint8_t plain[3][2][16];    // the pixel as it is
    uint8_t shifted[3][2][16];  // the pixel << 8
    uint8_t channel[3][16];     // pattern p: bytes 2c and 2c + 1 of a vector of channel words
};

constexpr int channel_pattern(int r, int h) { return (r + 2 * h) % 3; }

constexpr ChunkTables make_chunk_tables() {
    ChunkTables t{};
    for (int r = 0; r < 3; ++r)
        for (int h = 0; h < 2; ++h)
            for (int i = 0; i < 8; ++i) {
                int q = 16 * r + 8 * h + i, pixel = q / 3, c = q % 3;
                int low = 2 * (pixel - 4 * r);  // the pixel's first byte in the chunk's input
                t.plain[r][h][2 * i] = (uint8_t)low;
                t.plain[r][h][2 * i + 1] = (uint8_t)(low + 1);
                t.shifted[r][h][2 * i] = 0x80;
                t.shifted[r][h][2 * i + 1] = (uint8_t)low;
                t.channel[channel_pattern(r, h)][2 * i] = (uint8_t)(2 * c);
                t.channel[channel_pattern(r, h)][2 * i + 1] = (uint8_t)(2 * c + 1);
            }
    return t;
}

alignas(16) constexpr ChunkTables CHUNKS = make_chunk_tables();

// What each lane of each half of each chunk needs: the shuffle that brings
// its pixel, and its channel's mask and factor, by channel pattern. For the
// SSSE3 and the AVX2 groups of 16 alike.
struct Chunks128 {
    __m128i pick[3][2], mask[3], factor[3];
};

__attribute__((target("ssse3"))) inline __m128i load16(const void *p) {
    return _mm_loadu_si128((const __m128i *)p);
}

__attribute__((target("ssse3"))) inline void chunks_128(const PixelLanes *lanes, Chunks128 *k) {
    const __m128i masks = _mm_setr_epi16((short)lanes->mask[0], (short)lanes->mask[1],
                                         (short)lanes->mask[2], 0, 0, 0, 0, 0);
    const __m128i factors = _mm_setr_epi16((short)lanes->factor[0], (short)lanes->factor[1],
                                           (short)lanes->factor[2], 0, 0, 0, 0, 0);
    const __m128i lows = _mm_setr_epi16(lanes->shift[0] ? -1 : 0, lanes->shift[1] ? -1 : 0,
                                        lanes->shift[2] ? -1 : 0, 0, 0, 0, 0, 0);
    for (int p = 0; p < 3; ++p) {
        k->mask[p] = _mm_shuffle_epi8(masks, load16(CHUNKS.channel[p]));
        k->factor[p] = _mm_shuffle_epi8(factors, load16(CHUNKS.channel[p]));
    }
    for (int r = 0; r < 3; ++r)
        for (int h = 0; h < 2; ++h) {
            __m128i low = _mm_shuffle_epi8(lows, load16(CHUNKS.channel[channel_pattern(r, h)]));
            k->pick[r][h] = _mm_or_si128(_mm_and_si128(low, load16(CHUNKS.shifted[r][h])),
                                         _mm_andnot_si128(low, load16(CHUNKS.plain[r][h])));
        }
}

// Half h of chunk r: eight output bytes in 16-bit lanes, from the chunk's
// input `from`. WHITE adds the test for 0xFFFF that lanes->white_by_lanes
// makes needless.
template <bool WHITE>
__attribute__((target("ssse3"), always_inline)) inline __m128i half_128(__m128i from,
                                                                       const Chunks128 *k, int r,
                                                                       int h) {
    const int p = channel_pattern(r, h);
    __m128i v = _mm_shuffle_epi8(from, k->pick[r][h]);
    v = _mm_mulhi_epu16(_mm_and_si128(v, k->mask[p]), k->factor[p]);
    if (WHITE) {
        __m128i pixel = _mm_shuffle_epi8(from, load16(CHUNKS.plain[r][h]));
        v = _mm_or_si128(v, _mm_srli_epi16(_mm_cmpeq_epi16(pixel, _mm_set1_epi8(-1)), 8));
    }
    return v;
}

// Sixteen pixels: 32 bytes are loaded before 48 are stored.
template <bool WHITE>
__attribute__((target("ssse3"), always_inline)) inline void convert_16(uint8_t *out,
                                                                       const uint8_t *in,
                                                                       const Chunks128 *k) {
    const __m128i from[3] = {load16(in), load16(in + 8), load16(in + 16)};
    for (int r = 0; r < 3; ++r)
        _mm_storeu_si128((__m128i *)(out + 16 * r),
                         _mm_packus_epi16(half_128<WHITE>(from[r], k, r, 0),
                                          half_128<WHITE>(from[r], k, r, 1)));
}

struct Ssse3Setup {
    const PixelLanes *lanes;
    Chunks128 k;
};

template <bool WHITE>
__attribute__((target("ssse3"), noinline)) BMP16_ALIGN_STACK void rows_ssse3(
    uint8_t *out, const uint8_t *in, const RowSpan *span, const Ssse3Setup *setup) {
    const Chunks128 k = setup->k;
    uint32_t lead = span->lead;
    for (uint32_t r = 0; r < span->rows; ++r) {
        uint32_t room = vector_room(span->width, lead);
        size_t done = 0;  // pixels converted; as a size_t no offset below can wrap
        for (; done + 16 <= room; done += 16) convert_16<WHITE>(out + 3 * done, in + 2 * done, &k);
        finish_row(out, in, done, span, setup->lanes);
        out += span->out_stride;
        in += span->in_stride;
        lead -= span->lead_step;
    }
}

template <bool WHITE>
__attribute__((target("ssse3"))) BMP16_ALIGN_STACK int convert_rows_ssse3(
    uint8_t *out, const uint8_t *in, const RowSpan *span, const PixelLanes *lanes) {
    Ssse3Setup setup;
    setup.lanes = lanes;
    chunks_128(lanes, &setup.k);
    return report_rows(out, in, span, &setup, rows_ssse3<WHITE>);
}

}  // namespace

// --- 4. the AVX2 path ------------------------------------------------------

namespace {

// The AVX2 units of 32 pixels store 96 bytes as three stores of 32: store s
// holds chunks 2s and 2s + 1 of the unit's six, each as the groups of 16
// make it, in its own 128-bit half. Half h of store s takes the channel
// patterns v = (2s + 2h) % 3 and v + 1, so masks and factors come in three.
struct Chunks256 {
    __m256i pick[3][2], mask[3], factor[3];
    __m256i plain[3][2];
};

constexpr int store_pattern(int s, int h) { return (2 * s + 2 * h) % 3; }

// Where chunk i of a unit of 32 takes its input: its group's start plus 8r.
constexpr int unit_chunk_input(int i) { return 32 * (i / 3) + 8 * (i % 3); }

__attribute__((target("avx2"))) inline __m256i pair_256(__m128i low, __m128i high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

__attribute__((target("avx2"))) inline void chunks_256(const Chunks128 *k, Chunks256 *w) {
    for (int s = 0; s < 3; ++s) {
        int a = (2 * s) % 3, b = (2 * s + 1) % 3;
        for (int h = 0; h < 2; ++h) {
            w->pick[s][h] = pair_256(k->pick[a][h], k->pick[b][h]);
            w->plain[s][h] = pair_256(load16(CHUNKS.plain[a][h]), load16(CHUNKS.plain[b][h]));
        }
    }
    for (int v = 0; v < 3; ++v) {
        w->mask[v] = pair_256(k->mask[v], k->mask[(v + 1) % 3]);
        w->factor[v] = pair_256(k->factor[v], k->factor[(v + 1) % 3]);
    }
}

// Half h of store s, as half_128 makes half h of a chunk.
template <bool WHITE>
__attribute__((target("avx2"), always_inline)) inline __m256i half_256(__m256i from,
                                                                      const Chunks256 *w, int s,
                                                                      int h) {
    const int p = store_pattern(s, h);
    __m256i v = _mm256_shuffle_epi8(from, w->pick[s][h]);
    v = _mm256_mulhi_epu16(_mm256_and_si256(v, w->mask[p]), w->factor[p]);
    if (WHITE) {
        __m256i pixel = _mm256_shuffle_epi8(from, w->plain[s][h]);
        v = _mm256_or_si256(v,
                            _mm256_srli_epi16(_mm256_cmpeq_epi16(pixel, _mm256_set1_epi8(-1)), 8));
    }
    return v;
}

// The input of store s's two chunks, each in its own 128-bit half. Two
// broadcast loads and a blend put them there without the shuffle unit, which
// the shuffles and packs of the unit keep the busiest; an insert would need
// it. Chunks whose inputs lie side by side come in one load.
__attribute__((target("avx2"), always_inline)) inline __m256i store_input(const uint8_t *in,
                                                                        int s) {
    const int a = unit_chunk_input(2 * s), b = unit_chunk_input(2 * s + 1);
    if (b == a + 16) return _mm256_loadu_si256((const __m256i *)(in + a));
    return _mm256_blend_epi32(_mm256_broadcastsi128_si256(load16(in + a)),
                              _mm256_broadcastsi128_si256(load16(in + b)), 0xF0);
}

// Thirty-two pixels: 64 bytes are loaded before 96 are stored.
template <bool WHITE>
__attribute__((target("avx2"), always_inline)) inline void convert_32(uint8_t *out,
                                                                      const uint8_t *in,
                                                                      const Chunks256 *w) {
    __m256i from[3];
    for (int s = 0; s < 3; ++s) from[s] = store_input(in, s);
    for (int s = 0; s < 3; ++s)
        _mm256_storeu_si256((__m256i *)(out + 32 * s),
                            _mm256_packus_epi16(half_256<WHITE>(from[s], w, s, 0),
                                                half_256<WHITE>(from[s], w, s, 1)));
}

struct Avx2Setup {
    Chunks256 w;
    Chunks128 k;
    const PixelLanes *lanes;
};

// Runs of 32 pixels, then one of 16 where the row has room, then single pixels.
template <bool WHITE>
__attribute__((target("avx2"), noinline)) BMP16_ALIGN_STACK void rows_avx2(
    uint8_t *out, const uint8_t *in, const RowSpan *span, const Avx2Setup *setup) {
    const Chunks256 w = setup->w;
    const Chunks128 k = setup->k;
    uint32_t lead = span->lead;
    for (uint32_t r = 0; r < span->rows; ++r) {
        uint32_t room = vector_room(span->width, lead);
        size_t done = 0;  // pixels converted; as a size_t no offset below can wrap
        // The runs of 32 store on 32-byte boundaries, so that no store is
        // split between cache lines: pixel i's triple is there when
        // 3i = -out (mod 32), and 11 * 3 = 1 (mod 32). The pixels before go
        // 16 and one by one.
        uint32_t head = (uint32_t)(0u - (uint32_t)(uintptr_t)out) * 11u % 32u;
        if (head + 32 <= room) {
            if (head >= 16) {
                convert_16<WHITE>(out, in, &k);
                done = 16;
            }
            convert_pixels_scalar(out + 3 * done, in + 2 * done, (uint32_t)(head - done),
                                  setup->lanes);
            done = head;
        }
        // Two runs a turn: the loop's own work then weighs less.
        for (; done + 64 <= room; done += 64) {
            convert_32<WHITE>(out + 3 * done, in + 2 * done, &w);
            convert_32<WHITE>(out + 3 * done + 96, in + 2 * done + 64, &w);
        }
        if (done + 32 <= room) {
            convert_32<WHITE>(out + 3 * done, in + 2 * done, &w);
            done += 32;
        }
        if (done + 16 <= room) {
            convert_16<WHITE>(out + 3 * done, in + 2 * done, &k);
            done += 16;
        }
        finish_row(out, in, done, span, setup->lanes);
        out += span->out_stride;
        in += span->in_stride;
        lead -= span->lead_step;
    }
}

template <bool WHITE>
__attribute__((target("avx2"))) BMP16_ALIGN_STACK int convert_rows_avx2(
    uint8_t *out, const uint8_t *in, const RowSpan *span, const PixelLanes *lanes) {
    Avx2Setup setup;
    setup.lanes = lanes;
    chunks_128(lanes, &setup.k);
    chunks_256(&setup.k, &setup.w);
    return report_rows(out, in, span, &setup, rows_avx2<WHITE>);
}

}  // namespace

#endif

// --- 5. choosing the path --------------------------------------------------

int convert_span(uint8_t *out, const uint8_t *in, const RowSpan *span, const PixelLanes *lanes,
                 int path) {
#ifdef BMP16_X86
    int white = !lanes->white_by_lanes;
    // Rows too short for a run of 32, or for a group of 16, need not pay
    // for setting up the wider paths.
    if (span->width < 32 && path == CONVERT_AVX2) path = CONVERT_SSSE3;
    if (span->width < CONVERT_VECTOR_MIN_WIDTH) path = CONVERT_SCALAR;
    if (path == CONVERT_AVX2)
        return white ? convert_rows_avx2<true>(out, in, span, lanes)
                     : convert_rows_avx2<false>(out, in, span, lanes);
    if (path == CONVERT_SSSE3)
        return white ? convert_rows_ssse3<true>(out, in, span, lanes)
                     : convert_rows_ssse3<false>(out, in, span, lanes);
#else
    (void)path;
#endif
    return report_rows(out, in, span, lanes, rows_scalar);
}

#ifdef BMP16_X86
namespace {

// The widest path by the processor's own CPUID, and for AVX2 the system's
// saved-register mask (XCR0, read with XGETBV once CPUID says the system
// enabled it): the 256-bit registers survive a thread switch only where the
// system saves their upper halves.
int processor_best_path(void) {
    unsigned int a, b, c, d;
    const unsigned int top = __get_cpuid_max(0, nullptr);  // 0 where there is no CPUID
    if (top < 1) return CONVERT_SCALAR;
    __cpuid(1, a, b, c, d);
    if (!(c & bit_SSSE3)) return CONVERT_SCALAR;
    const unsigned int avx_ready = bit_OSXSAVE | bit_AVX;
    if ((c & avx_ready) != avx_ready || top < 7) return CONVERT_SSSE3;
    uint32_t saved, saved_high;
    __asm__ volatile("xgetbv" : "=a"(saved), "=d"(saved_high) : "c"(0));
    const uint32_t xmm_ymm = 6;  // XCR0: the SSE and the AVX state
    if ((saved & xmm_ymm) != xmm_ymm) return CONVERT_SSSE3;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_AVX2) ? CONVERT_AVX2 : CONVERT_SSSE3;
}

// The system's answer, from what it learned about the processor at start-up:
// no CPUID. Systems older than the query's SSSE3 and AVX2 answers (Windows 10
// before version 2004, Windows Server 2019) say no to both on any processor.
int system_best_path(void) {
    if (IsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE)) return CONVERT_AVX2;
    if (IsProcessorFeaturePresent(PF_SSSE3_INSTRUCTIONS_AVAILABLE)) return CONVERT_SSSE3;
    return CONVERT_SCALAR;
}

}  // namespace
#endif

int convert_path_for(const PixelLayout *layout) {
    if (layout->width < CONVERT_VECTOR_MIN_WIDTH) return CONVERT_SCALAR;
#ifdef BMP16_X86
    int path = system_best_path();
    if (path != CONVERT_SCALAR) return path;
    if ((uint64_t)layout->width * layout->height < CONVERT_PROCESSOR_MIN_PIXELS) return CONVERT_SCALAR;
    return processor_best_path();
#else
    return CONVERT_SCALAR;
#endif
}
