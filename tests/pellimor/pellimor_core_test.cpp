// The decoder's internals, reached directly: channel scales, row layout, and
// every way through the conversion this processor runs (the exports alone
// take only the fastest).
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif
#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "bmp16_convert_testing.h"
#include "bmp16_reference.h"
#include "bmp16_writer.h"
#include "host_habits.h"

namespace {

struct ScaleCase {
    uint32_t mask;
    uint32_t width;
};

class ChannelScales : public testing::TestWithParam<ScaleCase> {};

TEST_P(ChannelScales, Derived) {
    const ScaleCase &c = GetParam();
    ChannelScale s = derive_channel_scale(c.mask);
    EXPECT_EQ(s.mask, c.mask);
    EXPECT_EQ(s.width, c.width);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelScales,
    testing::Values(ScaleCase{0xF800, 5}, ScaleCase{0x07E0, 6}, ScaleCase{0x001F, 5},
                    ScaleCase{0x00FF, 8}, ScaleCase{0x0080, 1}, ScaleCase{0x0001, 1},
                    ScaleCase{0, 0}, ScaleCase{0x0101, 9}, ScaleCase{0x80000000u, 1},
                    ScaleCase{0xFFFFFFFFu, 32}));

TEST(ChannelScales, LanesWorkedByHand) {
    ChannelScale red = derive_channel_scale(0xF800), green = derive_channel_scale(0x0101),
                 blue = derive_channel_scale(0x0001);
    PixelLanes l;
    derive_pixel_lanes(&red, &green, &blue, &l);
    EXPECT_EQ(l.shift[2], 0);        // red's top bit is bit 15 already
    EXPECT_EQ(l.factor[2], 0x108);   // two copies of 5 bits
    EXPECT_EQ(l.factor[1], 0x8000);  // a span of 9: one copy, lifted by 7
    EXPECT_EQ(l.shift[0], 8);        // within the low byte: lifted by 8 and 7 more
    EXPECT_EQ(l.mask[0], 0x0100);
    EXPECT_EQ(l.factor[0], 0xFF00);  // one bit, eight copies
    // Masks reaching past bit 15: bits 16 down to 9 of the pixel, then nothing.
    red = derive_channel_scale(0x0001FFFF);
    green = derive_channel_scale(0xFF000000u);
    derive_pixel_lanes(&red, &green, &blue, &l);
    EXPECT_EQ(l.mask[2], 0xFFFF);
    EXPECT_EQ(l.shift[2], 0);
    EXPECT_EQ(l.factor[2], 0x80);
    EXPECT_EQ(l.factor[1], 0);
}

TEST(PixelLayouts, StridesPadsAndOverflow) {
    PixelLayout l;
    ASSERT_TRUE(derive_pixel_layout(5, 3, &l));
    EXPECT_EQ(l.in_stride, 12u);
    EXPECT_EQ(l.out_stride, 16u);
    EXPECT_EQ(l.pad, 1u);
    EXPECT_EQ(l.in_size, 36u);
    EXPECT_EQ(l.out_size, 48u);
    ASSERT_TRUE(derive_pixel_layout(1, 1, &l));
    EXPECT_EQ(l.in_stride, 4u);
    EXPECT_EQ(l.out_stride, 4u);
    ASSERT_TRUE(derive_pixel_layout(0x40000000, 1, &l));
    EXPECT_EQ(l.out_size, 0xC0000000u);
    EXPECT_FALSE(derive_pixel_layout(0x55555556, 1, &l));
    EXPECT_FALSE(derive_pixel_layout(0x7FFFFFFF, 1, &l));
    EXPECT_FALSE(derive_pixel_layout(1, 0x40000000, &l));
    EXPECT_FALSE(derive_pixel_layout(0x2AAAAAAB, 2, &l));
}

// The paths this processor runs, by its own CPUID: SSSE3, and AVX2 where the
// system also saves the 256-bit registers.
std::vector<int> processor_paths() {
    std::vector<int> paths = {CONVERT_SCALAR};
#if defined(__i386__) || defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return paths;
    if (c & bit_SSSE3) paths.push_back(CONVERT_SSSE3);
    bool ymm_saved = false;
    if (c & bit_OSXSAVE) {
        uint32_t lo, hi;
        __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        ymm_saved = (lo & 6) == 6;
    }
    if (ymm_saved && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2))
        paths.push_back(CONVERT_AVX2);
#endif
    return paths;
}

// Also where the system's feature query predates SSSE3 and AVX2 and says no.
TEST(Conversion, BestPathIsTheFastestTheProcessorHas) {
#ifdef _WIN32
    void *self = GetModuleHandleA(nullptr);
#else
    void *self = nullptr;
#endif
    PixelLayout narrow, small, large;
    ASSERT_TRUE(derive_pixel_layout(CONVERT_VECTOR_MIN_WIDTH - 1, 9999, &narrow));
    ASSERT_TRUE(derive_pixel_layout(255, 256, &small));  // just under CONVERT_PROCESSOR_MIN_PIXELS
    ASSERT_TRUE(derive_pixel_layout(256, 256, &large));
    for (int predates : {1, 0}) {
        ASSERT_TRUE(feature_query_predates(self, predates));
        const int best = processor_paths().back();
        EXPECT_EQ(convert_best_path(), best) << "feature query predates: " << predates;
        EXPECT_EQ(convert_path_for(&large), best) << "feature query predates: " << predates;
        // Where only CPUID would tell, a small picture does not ask it.
        EXPECT_EQ(convert_path_for(&small), predates ? CONVERT_SCALAR : best);
        EXPECT_EQ(convert_path_for(&narrow), CONVERT_SCALAR);
    }
}

// `size` bytes that end where a page begins that may not be read or written.
struct GuardedBytes {
    uint8_t *base = nullptr;
    size_t length = 0;  // the readable pages and the guard page
    uint8_t *end = nullptr;
};

GuardedBytes guarded_bytes(size_t size) {
    GuardedBytes g;
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_t page = info.dwPageSize;
#else
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
#endif
    g.length = (size + page - 1) / page * page + page;
#ifdef _WIN32
    g.base = (uint8_t *)VirtualAlloc(nullptr, g.length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    DWORD old;
    if (g.base && !VirtualProtect(g.base + g.length - page, page, PAGE_NOACCESS, &old)) g.base = nullptr;
#else
    void *p = mmap(nullptr, g.length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    g.base = p == MAP_FAILED ? nullptr : (uint8_t *)p;
    if (g.base && mprotect(g.base + g.length - page, page, PROT_NONE) != 0) g.base = nullptr;
#endif
    if (g.base) g.end = g.base + g.length - page;
    return g;
}

void guarded_release(GuardedBytes *g) {
#ifdef _WIN32
    VirtualFree(g->base, 0, MEM_RELEASE);
#else
    munmap(g->base, g->length);
#endif
}

// Reports seen by a progress callback: (next, total) is expected, and the
// report numbered `stop` answers stop.
struct RowReports {
    int32_t next = 0, total = 0, stop = -1;
    bool in_order = true;
};

int32_t WINAPI count_reports(int32_t done, int32_t total, LONG_PTR user) {
    RowReports *r = (RowReports *)user;
    r->in_order = r->in_order && done == r->next && total == r->total;
    return r->next++ == r->stop ? 1 : 0;
}

// Every mask family, every width up to 70 and a few longer rows, on every
// path this processor runs, with a progress callback: in place, in a block whose end is a page that may
// not be touched, against the test's own decoder and the scalar path's bytes;
// and each row's pixels alone against such a page, converted out of place.
TEST(Conversion, EveryPathInPlace) {
    const Masks families[] = {MASKS_565,  MASKS_555, MASKS_444, {0x0101, 0, 0x00FF0000},
                              {0xFFFF, 0x0FF0, 0x8001}, {0x0001, 0x0006, 0x00F0},
                              {0x0001FFFF, 0x00038000, 0xFFFFFFFFu}};
    std::vector<int32_t> widths;
    for (int32_t w = 1; w <= 70; ++w) widths.push_back(w);
    for (int32_t w : {95, 96, 127, 129, 258}) widths.push_back(w);
    const std::vector<int> paths = processor_paths();
    std::string ran;
    for (int path : paths) ran += std::string(" ") + convert_path_name(path);
    printf("paths run:%s\n", ran.c_str());
    RecordProperty("paths", ran.substr(1));

    GuardedBytes guard = guarded_bytes(258 * 4 * 4);
    ASSERT_NE(guard.base, nullptr);
    uint32_t seed = 500;
    for (const Masks &m : families)
        for (int32_t w : widths)
            for (int32_t h = 1; h <= 4; ++h) {
                Bytes file = make_bmp16(w, h, m, random_pixels(w * h, ++seed));
                Bytes expected = reference_decode(file);
                PixelLayout layout;
                ASSERT_TRUE(derive_pixel_layout(w, h, &layout));
                ChannelScale red = derive_channel_scale(m.red);
                ChannelScale green = derive_channel_scale(m.green);
                ChannelScale blue = derive_channel_scale(m.blue);
                PixelLanes lanes;
                derive_pixel_lanes(&red, &green, &blue, &lanes);
                // With white_by_lanes cleared the vector paths look for 0xFFFF themselves.
                for (int32_t white : {lanes.white_by_lanes, 0})
                for (int path : paths) {
                    lanes.white_by_lanes = white;
                    uint8_t *block = guard.end - layout.out_size;
                    memset(block, 0xEE, layout.out_size - layout.in_size);
                    memcpy(guard.end - layout.in_size, &file[66], layout.in_size);
                    RowReports reports;
                    reports.total = h;
                    ASSERT_TRUE(convert_picture(block, &layout, &lanes, path, count_reports,
                                                (LONG_PTR)&reports));
                    ASSERT_EQ(Bytes(block, guard.end), expected)
                        << convert_path_name(path) << " width " << w << " height " << h;
                    ASSERT_TRUE(reports.in_order && reports.next == h + 1);
                    // Asked to stop before the last row: no more reports.
                    reports = RowReports{0, h, h - 1};
                    memcpy(guard.end - layout.in_size, &file[66], layout.in_size);
                    ASSERT_FALSE(convert_picture(block, &layout, &lanes, path, count_reports,
                                                 (LONG_PTR)&reports));
                    ASSERT_TRUE(reports.in_order && reports.next == h);
                    if (h > 1) continue;
                    uint8_t *row = guard.end - 2 * (size_t)w;
                    memcpy(row, &file[66], 2 * (size_t)w);
                    Bytes out(layout.out_stride, 0xEE);
                    convert_rows(out.data(), layout.out_stride, row, layout.in_stride, 1, w,
                                 layout.pad, &lanes, path);
                    ASSERT_EQ(out, expected) << convert_path_name(path) << " width " << w;
                }
            }
    guarded_release(&guard);
}

}  // namespace
