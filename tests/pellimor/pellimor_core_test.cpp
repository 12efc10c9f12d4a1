// The decoder's internals, reached directly: channel scales, row layout, and
// every way through the conversion (the scalar loop is the one a processor
// without SSSE3 takes, so the exports alone would not exercise it here).
#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include <gtest/gtest.h>

#include "bmp16_convert.h"
#include "bmp16_writer.h"

namespace {

struct ScaleCase {
    uint32_t mask;
    int32_t mode;
    uint32_t shift, width;
};

class ChannelScales : public testing::TestWithParam<ScaleCase> {};

TEST_P(ChannelScales, Derived) {
    const ScaleCase &c = GetParam();
    ChannelScale s = derive_channel_scale(c.mask);
    EXPECT_EQ(s.mask, c.mask);
    EXPECT_EQ(s.mode, c.mode);
    EXPECT_EQ(s.shift, c.shift);
    EXPECT_EQ(s.width, c.width);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelScales,
    testing::Values(ScaleCase{0xF800, CHANNEL_RIGHT, 8, 5}, ScaleCase{0x07E0, CHANNEL_RIGHT, 3, 6},
                    ScaleCase{0x001F, CHANNEL_LEFT, 3, 5}, ScaleCase{0x00FF, CHANNEL_NONE, 0, 8},
                    ScaleCase{0x0080, CHANNEL_NONE, 0, 1}, ScaleCase{0x0001, CHANNEL_LEFT, 7, 1},
                    ScaleCase{0, CHANNEL_NONE, 0, 0}, ScaleCase{0x0101, CHANNEL_RIGHT, 1, 9},
                    ScaleCase{0x80000000u, CHANNEL_RIGHT, 24, 1},
                    ScaleCase{0xFFFFFFFFu, CHANNEL_RIGHT, 24, 32}));

TEST(ChannelScales, LanesWhereTheMasksFit) {
    ChannelScale red = derive_channel_scale(0xF800), green = derive_channel_scale(0x0101),
                 blue = derive_channel_scale(0x0001);
    PixelTables t;
    build_pixel_tables(&red, &green, &blue, &t);
    EXPECT_EQ(t.lanes_fit, 1);
    EXPECT_EQ(t.lane_lift[2], 0);       // red's top bit is bit 15 already
    EXPECT_EQ(t.lane_factor[2], 0x108);  // two copies of 5 bits
    EXPECT_EQ(t.lane_factor[1], 0x100);  // a span of 9: one copy
    EXPECT_EQ(t.lane_factor[0], 0x1FE);  // one bit, eight copies
    green = derive_channel_scale(0x10000);
    build_pixel_tables(&red, &green, &blue, &t);
    EXPECT_EQ(t.lanes_fit, 0);
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

// The vector path is taken wherever the processor runs it.
TEST(Conversion, BestPathIsTheVectorOneWhereTheProcessorHasIt) {
#if defined(__i386__) || defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    bool ssse3 = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSSE3);
    EXPECT_EQ(convert_best_path(), ssse3 ? CONVERT_SSSE3 : CONVERT_SCALAR);
#else
    EXPECT_EQ(convert_best_path(), CONVERT_SCALAR);
#endif
}

// In place, in a block of exactly the output size (so that a sanitizer sees
// any access past it), on every path, against the test's own decoder.
TEST(Conversion, EveryPathInPlace) {
    const Masks families[] = {MASKS_565,  MASKS_555, MASKS_444, {0x0101, 0, 0x00FF0000},
                              {0xFFFF, 0x0FF0, 0x8001}, {0x0001, 0x0006, 0x00F0}};
    int paths[] = {CONVERT_SCALAR, convert_best_path()};
    uint32_t seed = 500;
    for (const Masks &m : families)
        for (int32_t w = 1; w <= 70; ++w)
            for (int32_t h = 1; h <= 4; ++h) {
                Bytes file = make_bmp16(w, h, m, random_pixels(w * h, ++seed));
                Bytes expected = reference_decode(file);
                PixelLayout layout;
                ASSERT_TRUE(derive_pixel_layout(w, h, &layout));
                ChannelScale red = derive_channel_scale(m.red);
                ChannelScale green = derive_channel_scale(m.green);
                ChannelScale blue = derive_channel_scale(m.blue);
                PixelTables tables;
                build_pixel_tables(&red, &green, &blue, &tables);
                // With lanes_fit cleared the vector path looks every digit up instead.
                for (int32_t lanes : {tables.lanes_fit, 0})
                    for (int path : paths) {
                        tables.lanes_fit = lanes;
                        Bytes block(layout.out_size, 0xEE);
                        memcpy(&block[layout.out_size - layout.in_size], &file[66], layout.in_size);
                        ASSERT_TRUE(convert_picture(block.data(), &layout, &tables, path, nullptr, 0));
                        ASSERT_EQ(block, expected) << "path " << path << " lanes " << lanes
                                                   << " width " << w << " height " << h;
                    }
            }
}

}  // namespace
