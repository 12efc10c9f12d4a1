// pellimor through its exports, as a viewer drives it: natively against the
// .so, and in the Windows build against the real .spi under Wine.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bmp16_reference.h"
#include "bmp16_writer.h"
#include "stb_reference.h"
#include "test_support.h"

namespace {

// The calls into the plug-in's 8-bit exports (wide 0) or its wide ones
// (wide 1); pellimor() gives those this run drives.
const PluginCalls &pellimor_at(int wide) {
    static const LoadedPlugin plugin = test_load_pellimor();
    static const std::array<PluginCalls, 2> both = test_both_widths(&plugin);
    return both[wide];
}

const PluginCalls &pellimor() { return pellimor_at(test_wide()); }

struct Picture {
    int32_t code;
    Bytes info;
    Bytes bits;
};

// One GetPicture call. Both variables start non-null so that a failure is
// seen to null them; handed-over blocks are taken and freed as a host does.
Picture get_picture(const char *buf, LONG_PTR len, uint32_t flag, ProgressCallback progress = nullptr,
                    LONG_PTR user = 0, int wide = test_wide()) {
    int64_t live = test_live_blocks();
    HLOCAL info = (HLOCAL)(uintptr_t)0x5EED0;
    HLOCAL bits = (HLOCAL)(uintptr_t)0x5EED4;
    Picture pic;
    pic.code = call_get_picture(&pellimor_at(wide), buf, len, flag, &info, &bits, progress, user);
    if (pic.code == RESULT_OK) {
        pic.info = test_take_block(info);
        pic.bits = test_take_block(bits);
    } else {
        EXPECT_EQ(info, nullptr);
        EXPECT_EQ(bits, nullptr);
    }
    EXPECT_EQ(test_live_blocks(), live) << "a block was left behind";
    return pic;
}

Picture decode_memory(const Bytes &file, ProgressCallback progress = nullptr, LONG_PTR user = 0,
                      int wide = test_wide()) {
    return get_picture((const char *)file.data(), (LONG_PTR)file.size(), SOURCE_MEMORY, progress,
                       user, wide);
}

// The bitmap is written `offset` bytes into a file and read from there.
Picture decode_file(const Bytes &file, uint32_t offset = 0) {
    Bytes stored(offset, 0x3C);
    stored.insert(stored.end(), file.begin(), file.end());
    std::string path = test_path(test_scratch_dir(), "picture.bmp");
    test_write_file(path, stored);
    return get_picture(path.c_str(), (LONG_PTR)offset, SOURCE_FILE);
}

int32_t picture_info(const Bytes &file, PictureInfoRecord *record, int wide = test_wide()) {
    return call_get_picture_info(&pellimor_at(wide), (const char *)file.data(), (LONG_PTR)file.size(),
                                       SOURCE_MEMORY, record);
}

int32_t probe_buffer(const Bytes &file, int wide = test_wide()) {
    Bytes probe(PROBE_BUFFER_SIZE, 0);
    memcpy(probe.data(), file.data(), file.size() < probe.size() ? file.size() : probe.size());
    return call_is_supported(&pellimor_at(wide), "picture.bmp", probe.data());
}

Bytes dib_header(int32_t w, int32_t h) {
    Bytes b(40, 0);
    b[0] = 40;
    memcpy(&b[4], &w, 4);  // both builds are little-endian
    memcpy(&b[8], &h, 4);
    b[12] = 1;
    b[14] = 24;
    const uint32_t image_size = (uint32_t)((3 * w + 3) & ~3) * (uint32_t)h;  // the rows handed over
    memcpy(&b[20], &image_size, 4);
    return b;
}

// A 5 x 3 bitmap, the tightest in-place width, with every kind of pixel.
Bytes sample_bitmap(const Bmp16Knobs &knobs = Bmp16Knobs(), Masks masks = MASKS_565) {
    return make_bmp16(5, 3, masks, random_pixels(15, 7), knobs);
}

}  // namespace

// --- identification -------------------------------------------------------

class PluginInfoTable : public testing::TestWithParam<InfoCase> {};

TEST_P(PluginInfoTable, CopiesTheEntry) { test_plugin_info_case(pellimor(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Table, PluginInfoTable,
    testing::Values(InfoCase{0, 5, 4, "00IN"}, InfoCase{0, 3, 2, "00"},
                    InfoCase{1, 10, 9, "HiColor(6"}, InfoCase{2, 64, 5, "*.BMP"},
                    InfoCase{3, 64, 26, "Windows Bitmap (64k Color)"},
                    InfoCase{0, 1, 0, ""}, InfoCase{4, 64, 0, nullptr},
                    InfoCase{-1, 64, 0, nullptr}, InfoCase{0, 0, 0, nullptr},
                    InfoCase{0, -7, 0, nullptr}));

TEST(PluginInfo, DescriptionCarriesTheMakersNotice) {
    test_description_has_notice(pellimor(), "HiColor(64k Color) BMP to DIB filter ver0.01  ");
}

TEST(PluginInfo, PreviewIsNotOffered) {
    HLOCAL a = nullptr, b = nullptr;
    Bytes file = sample_bitmap();
    EXPECT_EQ(call_get_preview(&pellimor(), (const char *)file.data(), (LONG_PTR)file.size(),
                                     SOURCE_MEMORY, &a, &b, nullptr, 0),
              RESULT_NOT_SUPPORTED);
    EXPECT_EQ(call_get_preview(&pellimor(), nullptr, 0, 0, nullptr, nullptr, nullptr, 0),
              RESULT_NOT_SUPPORTED);
}

// --- header checks ----------------------------------------------------------

struct HeaderCase {
    const char *name;
    Bmp16Knobs knobs;
    int32_t w, h;
    bool accepted;
};

Bmp16Knobs with(void (*change)(Bmp16Knobs &)) {
    Bmp16Knobs k;
    change(k);
    return k;
}

const HeaderCase HEADER_CASES[] = {
    {"valid", {}, 5, 3, true},
    {"type_BA", with([](Bmp16Knobs &k) { k.type = 0x4142; }), 5, 3, false},
    {"size_below_off_bits", with([](Bmp16Knobs &k) { k.file_size = 65; }), 5, 3, false},
    {"size_equal_off_bits", with([](Bmp16Knobs &k) { k.file_size = 66; }), 5, 3, true},
    {"reserved1", with([](Bmp16Knobs &k) { k.reserved1 = 1; }), 5, 3, false},
    {"reserved2", with([](Bmp16Knobs &k) { k.reserved2 = 0x8000; }), 5, 3, false},
    {"off_bits_53", with([](Bmp16Knobs &k) { k.off_bits = 53; }), 5, 3, false},
    {"off_bits_54", with([](Bmp16Knobs &k) { k.off_bits = 54; }), 5, 3, true},
    {"os2_header", with([](Bmp16Knobs &k) { k.info_size = 12; }), 5, 3, false},
    {"v4_header", with([](Bmp16Knobs &k) { k.info_size = 108; }), 5, 3, false},
    {"v5_header", with([](Bmp16Knobs &k) { k.info_size = 124; }), 5, 3, false},
    {"width_0", {}, 0, 3, false},
    {"width_negative", {}, -5, 3, false},
    {"height_0", {}, 5, 0, false},
    {"top_down", {}, 5, -3, false},
    {"planes_0", with([](Bmp16Knobs &k) { k.planes = 0; }), 5, 3, false},
    {"planes_2", with([](Bmp16Knobs &k) { k.planes = 2; }), 5, 3, false},
    {"bits_8", with([](Bmp16Knobs &k) { k.bit_count = 8; }), 5, 3, false},
    {"bits_24", with([](Bmp16Knobs &k) { k.bit_count = 24; }), 5, 3, false},
    {"bits_32", with([](Bmp16Knobs &k) { k.bit_count = 32; }), 5, 3, false},
    {"plain_rgb", with([](Bmp16Knobs &k) { k.compression = 0; }), 5, 3, false},
    {"rle8", with([](Bmp16Knobs &k) { k.compression = 1; }), 5, 3, false},
    {"alpha_bitfields", with([](Bmp16Knobs &k) { k.compression = 6; }), 5, 3, false},
};

class HeaderCheck : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderCheck, EveryExportAgrees) {
    const HeaderCase &c = GetParam();
    Bytes file = make_bmp16(c.w, c.h, MASKS_565, random_pixels(15, 1), c.knobs);
    int32_t code = c.accepted ? RESULT_OK : RESULT_UNKNOWN_FORMAT;
    EXPECT_EQ(probe_buffer(file), c.accepted ? 1 : 0);
    PictureInfoRecord record;
    memset(&record, 0xAB, sizeof record);
    EXPECT_EQ(picture_info(file, &record), code);
    if (!c.accepted) {
        PictureInfoRecord untouched;
        memset(&untouched, 0xAB, sizeof untouched);
        EXPECT_EQ(memcmp(&record, &untouched, sizeof record), 0) << "record written on failure";
    }
    EXPECT_EQ(decode_memory(file).code, code);
}

INSTANTIATE_TEST_SUITE_P(Table, HeaderCheck, testing::ValuesIn(HEADER_CASES),
                         [](const testing::TestParamInfo<HeaderCase> &i) {
                             return std::string(i.param.name);
                         });

TEST(PictureInfo, RecordHoldsTheDimensions) {
    PictureInfoRecord record;
    memset(&record, 0xAB, sizeof record);
    Bytes file = make_bmp16(1234, 567, MASKS_555, {});
    file.resize(54);  // only the headers are looked at
    ASSERT_EQ(picture_info(file, &record), RESULT_OK);
    EXPECT_EQ(record.left, 0);
    EXPECT_EQ(record.top, 0);
    EXPECT_EQ(record.width, 1234);
    EXPECT_EQ(record.height, 567);
    EXPECT_EQ(record.x_density, 0);
    EXPECT_EQ(record.y_density, 0);
    EXPECT_EQ(record.colour_depth, 16);
    EXPECT_EQ(record.info_handle, nullptr);
}

TEST(PictureInfo, SourcesThatFail) {
    PictureInfoRecord record;
    EXPECT_EQ(call_get_picture_info(&pellimor(), "no-such-dir/none.bmp", 0, SOURCE_FILE, &record),
              RESULT_READ_ERROR);
    std::string path = test_path(test_scratch_dir(), "p.bmp");
    test_write_file(path, sample_bitmap());
    EXPECT_EQ(call_get_picture_info(&pellimor(), path.c_str(), 0, SOURCE_FILE, &record), RESULT_OK);
    EXPECT_EQ(call_get_picture_info(&pellimor(), path.c_str(), (LONG_PTR)0x80000000u, SOURCE_FILE,
                                          &record),
              RESULT_READ_ERROR);
    // Past the end of the file everything reads as zero: no "BM".
    EXPECT_EQ(call_get_picture_info(&pellimor(), path.c_str(), 4096, SOURCE_FILE, &record),
              RESULT_UNKNOWN_FORMAT);
    Bytes none;
    EXPECT_EQ(picture_info(none, &record), RESULT_UNKNOWN_FORMAT);
    // A host's mistakes: no record, or an image at address 0 that claims
    // bytes. Of no bytes it is an empty image, as ever.
    EXPECT_EQ(call_get_picture_info(&pellimor(), path.c_str(), 0, SOURCE_FILE, nullptr), RESULT_INTERNAL_ERROR);
    memset(&record, 0xAB, sizeof record);
    const PictureInfoRecord before = record;
    EXPECT_EQ(call_get_picture_info(&pellimor(), nullptr, 66, SOURCE_MEMORY, &record), RESULT_INTERNAL_ERROR);
    EXPECT_EQ(call_get_picture_info(&pellimor(), nullptr, -1, SOURCE_MEMORY, &record), RESULT_INTERNAL_ERROR);
    EXPECT_EQ(memcmp(&record, &before, sizeof record), 0) << "record written on failure";
    EXPECT_EQ(call_get_picture_info(&pellimor(), nullptr, 0, SOURCE_MEMORY, &record), RESULT_UNKNOWN_FORMAT);
}

// A source that ends after the low byte of biCompression passes both checks;
// one byte less always fails.
TEST(PictureInfo, ShortSourcesAreJudgedOnWhatTheyHold) {
    Bytes file = sample_bitmap();
    PictureInfoRecord record;
    for (size_t n = 0; n <= 66; ++n) {
        Bytes cut(file.begin(), file.begin() + n);
        int32_t expected = n >= 31 ? RESULT_OK : RESULT_UNKNOWN_FORMAT;
        EXPECT_EQ(picture_info(cut, &record), expected) << n << " bytes";
        EXPECT_EQ(decode_memory(cut).code, expected) << n << " bytes";
    }
}

// --- IsSupported ------------------------------------------------------------

TEST(IsSupported, ByHandleRestoresThePosition) {
    Bytes stored(10, 0x55);
    Bytes file = sample_bitmap();
    stored.insert(stored.end(), file.begin(), file.end());
    std::string path = test_path(test_scratch_dir(), "handle.bmp");
    test_write_file(path, stored);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_LT((uintptr_t)h, 65536u);
    for (uint32_t at : {10u, 0u, 11u, 10u}) {
        ASSERT_EQ(SetFilePointer(h, (LONG)at, nullptr, FILE_BEGIN), at);
        EXPECT_EQ(call_is_supported(&pellimor(), "handle.bmp", h), at == 10 ? 1 : 0) << "at " << at;
        EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), at);
    }
    CloseHandle(h);
}

TEST(IsSupported, ByBuffer) {
    Bytes file = sample_bitmap();
    EXPECT_EQ(probe_buffer(file), 1);
    // The buffer is judged on its first 54 bytes; the rest may be anything.
    file.resize(54);
    EXPECT_EQ(probe_buffer(file), 1);
    file.resize(30);
    EXPECT_EQ(probe_buffer(file), 0);
}

// --- pixels -----------------------------------------------------------------

struct PixelCase {
    const char *name;
    Masks masks;
    std::vector<uint16_t> pixels;  // one row
    Bytes expected;                // that row, padding included
};

const PixelCase PIXEL_CASES[] = {
    {"worked_565", MASKS_565, {0x8410, 0x1234, 0xF800},
     {0x84, 0x82, 0x84, 0xA5, 0x45, 0x10, 0x00, 0x00, 0xFF, 0, 0, 0}},
    {"worked_555", MASKS_555, {0x7FFF, 0x0001, 0x1234},
     {0xFF, 0xFF, 0xFF, 0x08, 0x00, 0x00, 0xA5, 0x8C, 0x21, 0, 0, 0}},
    {"black_white_565", MASKS_565, {0x0000, 0xFFFF}, {0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0}},
    {"hand_444", MASKS_444, {0x0ABC, 0xF00F, 0x0010, 0x0801},
     {0xCC, 0xBB, 0xAA, 0xFF, 0x00, 0x00, 0x00, 0x11, 0x00, 0x11, 0x00, 0x88}},
    // These masks would make 0xFFFF 0x00, 0x80, 0xFF; it is white all the same.
    {"white_whatever_the_masks", {0xF800, 0x0101, 0x00010000}, {0xFFFF, 0xFFFE, 0x0006},
     {0xFF, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0, 0, 0, 0, 0, 0}},
    {"zero_masks", {0, 0, 0}, {0x1234, 0xFFFF, 0xFFFE}, {0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
    {"zero_green", {0xF800, 0, 0x001F}, {0xFFDF}, {0xFF, 0x00, 0xFF, 0}},
    // All set bits above bit 15: the channel is 0 except for 0xFFFF.
    {"masks_above_bit_15", {0x00FF0000, 0xF8000000, 0x00010000}, {0xFFFE, 0xFFFF},
     {0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0}},
    // 0x0101 spans 9 bits: bit 8 lands on bit 7, bit 0 is lost.
    {"gap_0101", {0x0101, 0x0100, 0x0001}, {0x0100, 0x0001, 0x0101},
     {0x00, 0xFF, 0x80, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x80, 0, 0, 0}},
    {"overlapping", {0xFFFF, 0xFF00, 0x0FF0}, {0x8000, 0x00FF, 0x1234},
     {0x00, 0x80, 0x80, 0x0F, 0x00, 0x00, 0x23, 0x12, 0x12, 0, 0, 0}},
};

class PixelRows : public testing::TestWithParam<PixelCase> {};

TEST_P(PixelRows, RowMatchesHandWorkedBytes) {
    const PixelCase &c = GetParam();
    Bytes file = make_bmp16((int32_t)c.pixels.size(), 1, c.masks, c.pixels);
    Picture pic = decode_memory(file);
    ASSERT_EQ(pic.code, RESULT_OK);
    EXPECT_EQ(pic.bits, c.expected);
    EXPECT_EQ(reference_decode(file), c.expected) << "the test's own decoder disagrees";
}

INSTANTIATE_TEST_SUITE_P(Table, PixelRows, testing::ValuesIn(PIXEL_CASES),
                         [](const testing::TestParamInfo<PixelCase> &i) {
                             return std::string(i.param.name);
                         });

TEST(Pixels, InfoBlockAndBlockSizes) {
    for (int32_t w : {1, 2, 3, 4, 5}) {
        Picture pic = decode_memory(make_bmp16(w, 2, MASKS_565, random_pixels(2 * w, 3)));
        ASSERT_EQ(pic.code, RESULT_OK);
        EXPECT_EQ(pic.info, dib_header(w, 2));
        const size_t out_stride[] = {0, 4, 8, 12, 12, 16};
        EXPECT_EQ(pic.bits.size(), out_stride[w] * 2) << "width " << w;
    }
}

// Every width up to 8 plus the tight in-place widths and some wide ones, for
// every mask family, from memory and from a file.
TEST(Pixels, AgreeWithTheReferenceDecoder) {
    const Masks families[] = {MASKS_565, MASKS_555, MASKS_444, {0, 0x07E0, 0}, {0x00FF0000, 0x07E0, 0x1F},
                              {0x0101, 0x00F0, 0x8001}, {0xFFFF, 0x0FF0, 0x00FF}};
    const int32_t widths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 16, 17, 21, 31, 32, 33, 48, 49, 100, 257};
    uint32_t seed = 1;
    for (const Masks &m : families)
        for (int32_t w : widths)
            for (int32_t h = 1; h <= 4; ++h) {
                Bytes file = make_bmp16(w, h, m, random_pixels(w * h, ++seed));
                Picture pic = decode_memory(file);
                ASSERT_EQ(pic.code, RESULT_OK);
                ASSERT_EQ(pic.bits, reference_decode(file))
                    << "width " << w << " height " << h << " red mask " << m.red;
            }
    Bytes file = make_bmp16(13, 4, MASKS_565, random_pixels(52, 99));
    for (uint32_t offset : {0u, 37u}) {
        Picture pic = decode_file(file, offset);
        ASSERT_EQ(pic.code, RESULT_OK) << "offset " << offset;
        EXPECT_EQ(pic.bits, reference_decode(file));
        EXPECT_EQ(pic.info, dib_header(13, 4));
    }
}

// stb_image, a decoder we did not write, reads every mask it takes as we do:
// each channel 1 to 8 contiguous bits within the 16 (it refuses wider masks
// and reads gapped ones otherwise). Every split of the 16 bits into three
// such channels, red highest, a few other orders and places, then several
// sizes from memory and from a file.
TEST(Pixels, AgreeWithStbImage) {
    std::vector<Masks> masks = {{0x001F, 0x07E0, 0xF800}, {0x03E0, 0x001F, 0x7C00},
                                {0xF000, 0x0F00, 0x00F0}, {0x3800, 0x01C0, 0x0007}};
    for (uint32_t r = 1; r <= 8; ++r)
        for (uint32_t g = 1; g <= 8; ++g)
            for (uint32_t b = 1; b <= 8 && r + g + b <= 16; ++b)
                masks.push_back({((1u << r) - 1) << (g + b), ((1u << g) - 1) << b, (1u << b) - 1});
    auto check = [](const Bytes &file, const Picture &pic, const char *source) {
        int32_t w = 0, h = 0;
        Bytes stb;
        ASSERT_TRUE(stb_reference_rows(file.data(), file.size(), &w, &h, &stb)) << source;
        ASSERT_EQ(pic.code, RESULT_OK) << source;
        ASSERT_EQ(pic.info, dib_header(w, h)) << source;
        ASSERT_EQ(pic.bits, stb) << source << ": " << w << "x" << h << " masks " << std::hex
                                 << le32_at(file, 54) << " " << le32_at(file, 58) << " " << le32_at(file, 62);
    };
    uint32_t seed = 500;
    for (const Masks &m : masks) {
        Bytes file = make_bmp16(7, 3, m, random_pixels(21, ++seed));
        check(file, decode_memory(file), "memory");
    }
    const int32_t sizes[][2] = {{1, 1}, {3, 2}, {17, 13}, {64, 3}, {257, 2}};
    for (const Masks &m : {MASKS_565, MASKS_555, MASKS_444})
        for (const auto &size : sizes) {
            Bytes file = make_bmp16(size[0], size[1], m, random_pixels(size[0] * size[1], ++seed));
            check(file, decode_memory(file), "memory");
            check(file, decode_file(file), "file");
        }
}

// Every cut of the pixel array decodes the missing tail as black.
TEST(Pixels, TruncatedArraysDecodeBlack) {
    for (int32_t w : {5, 9}) {
        Bytes file = make_bmp16(w, 3, MASKS_565, random_pixels(3 * w, 11));
        for (size_t n = 31; n <= file.size(); ++n) {
            Bytes cut(file.begin(), file.begin() + n);
            Picture pic = decode_memory(cut);
            ASSERT_EQ(pic.code, RESULT_OK) << n;
            ASSERT_EQ(pic.bits, reference_decode(cut)) << n;
        }
        Bytes cut(file.begin(), file.begin() + 66 + 2 * w + 1);
        Picture pic = decode_file(cut);
        ASSERT_EQ(pic.code, RESULT_OK);
        EXPECT_EQ(pic.bits, reference_decode(cut));
    }
}

TEST(Pixels, ThirtyOneBytesDecodeToBlack) {
    Bytes file = make_bmp16(7, 2, MASKS_565, random_pixels(14, 5));
    file.resize(31);
    Picture pic = decode_memory(file);
    ASSERT_EQ(pic.code, RESULT_OK);
    EXPECT_EQ(pic.info, dib_header(7, 2));
    EXPECT_EQ(pic.bits, Bytes(2 * 24, 0));
}

// --- where the rows start ----------------------------------------------------

TEST(OffBits, RowsStartAtByte66OrAtALaterOffBits) {
    std::vector<uint16_t> px = random_pixels(15, 21);
    Bytes expected = reference_decode(make_bmp16(5, 3, MASKS_565, px));
    for (uint32_t off_bits : {54u, 60u, 65u, 66u, 67u, 70u, 78u, 100u, 1066u}) {
        Bmp16Knobs k;
        k.off_bits = off_bits;
        Bytes file = make_bmp16(5, 3, MASKS_565, px, k);
        Picture pic = decode_memory(file);
        ASSERT_EQ(pic.code, RESULT_OK) << off_bits;
        EXPECT_EQ(pic.bits, expected) << "memory, bfOffBits " << off_bits;
        pic = decode_file(file, off_bits % 7);
        ASSERT_EQ(pic.code, RESULT_OK) << off_bits;
        EXPECT_EQ(pic.bits, expected) << "file, bfOffBits " << off_bits;
    }
}

TEST(OffBits, BeyondTheSourceIsBlack) {
    Bytes black(3 * 16, 0);
    for (uint32_t off_bits : {200u, 4096u, 0x7FFFFFF0u, 0x80000000u, 0xFFFFFFFFu}) {
        Bmp16Knobs k;
        k.file_size = 0xFFFFFFFF;
        k.off_bits = 66;
        Bytes file = make_bmp16(5, 3, MASKS_565, random_pixels(15, 2), k);
        memcpy(&file[10], &off_bits, 4);
        Picture pic = decode_memory(file);
        ASSERT_EQ(pic.code, RESULT_OK) << off_bits;
        EXPECT_EQ(pic.bits, black);
        // A file can be positioned past its end below 2 GiB, not at or above.
        int32_t file_code = off_bits < 0x80000000u ? RESULT_OK : RESULT_READ_ERROR;
        pic = decode_file(file);
        ASSERT_EQ(pic.code, file_code) << off_bits;
        if (file_code == RESULT_OK) {
            EXPECT_EQ(pic.bits, black);
        }
    }
}

// --- sizes beyond 32 bits -----------------------------------------------------

TEST(Sizes, OverflowIsRefusedBeforeAnyBlock) {
    struct Dim {
        int32_t w, h;
    };
    for (Dim d : {Dim{0x7FFFFFFF, 1}, Dim{0x55555556, 1}, Dim{0x10000, 0x10000},
                  Dim{0x2AAAAAAB, 2}, Dim{1, 0x40000000}, Dim{0x7FFFFFFF, 0x7FFFFFFF}}) {
        Bytes file = make_bmp16(1, 1, MASKS_565, {0x1234});
        memcpy(&file[18], &d.w, 4);
        memcpy(&file[22], &d.h, 4);
#ifndef _WIN32
        winlayer_reset_calls();
#endif
        EXPECT_EQ(decode_memory(file).code, RESULT_NO_MEMORY) << d.w << " x " << d.h;
#ifndef _WIN32
        EXPECT_EQ(winlayer_call_count(WINLAYER_LOCAL_ALLOC), 0u) << d.w << " x " << d.h;
#endif
    }
    // Fits in 32 bits but not in one block: the allocation itself is refused.
    Bytes file = make_bmp16(1, 1, MASKS_565, {0x1234});
    int32_t w = 0x40000000;
    memcpy(&file[18], &w, 4);
    EXPECT_EQ(decode_memory(file).code, RESULT_NO_MEMORY);
}

// --- progress and cancellation -------------------------------------------------

struct ProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;
    LONG_PTR user_seen = 0;
    int32_t stop_at = -1;  // index of the call that answers non-zero
};

int32_t WINAPI log_progress(int32_t done, int32_t total, LONG_PTR user) {
    ProgressLog *log = (ProgressLog *)user;
    log->calls.push_back({done, total});
    log->user_seen = user;
    return (int32_t)log->calls.size() - 1 == log->stop_at ? 1 : 0;
}

TEST(Progress, ReportsEachRowThenTheEnd) {
    ProgressLog log;
    Bytes file = sample_bitmap();
    Picture pic = decode_memory(file, log_progress, (LONG_PTR)&log);
    ASSERT_EQ(pic.code, RESULT_OK);
    EXPECT_EQ(pic.bits, reference_decode(file));
    std::vector<std::pair<int32_t, int32_t>> expected = {{0, 3}, {1, 3}, {2, 3}, {3, 3}};
    EXPECT_EQ(log.calls, expected);
    EXPECT_EQ(log.user_seen, (LONG_PTR)&log);
}

TEST(Progress, CancelBeforeAnyRowOrAtTheEnd) {
    Bytes file = sample_bitmap();
    for (int32_t stop = 0; stop <= 3; ++stop) {
        ProgressLog log;
        log.stop_at = stop;
        EXPECT_EQ(decode_memory(file, log_progress, (LONG_PTR)&log).code, RESULT_CANCELLED);
        EXPECT_EQ(log.calls.size(), (size_t)stop + 1) << "no report after the stop";
    }
}

// --- failures on every path ----------------------------------------------------

TEST(Failures, SourcesThatCannotBeRead) {
    EXPECT_EQ(get_picture("no-such-dir/none.bmp", 0, SOURCE_FILE).code, RESULT_READ_ERROR);
    // A null name is an empty one.
    EXPECT_EQ(get_picture(nullptr, 0, SOURCE_FILE).code, RESULT_READ_ERROR);
    EXPECT_EQ(get_picture("", 0, SOURCE_FILE).code, RESULT_READ_ERROR);
    std::string path = test_path(test_scratch_dir(), "p.bmp");
    test_write_file(path, sample_bitmap());
    EXPECT_EQ(get_picture(path.c_str(), -1, SOURCE_FILE).code, RESULT_READ_ERROR);
    EXPECT_EQ(get_picture(path.c_str(), 0, SOURCE_FILE).code, RESULT_OK);
    // Any kind other than memory names a file.
    EXPECT_EQ(get_picture(path.c_str(), 0, 6).code, RESULT_OK);
    EXPECT_EQ(get_picture(path.c_str(), 0, 1 | 0xF0).code, RESULT_UNKNOWN_FORMAT);
    // A host's mistakes, refused before anything is opened: an image at
    // address 0 that claims bytes (of none it is empty, as ever), or a
    // variable missing, the other then null.
    EXPECT_EQ(get_picture(nullptr, 66, SOURCE_MEMORY).code, RESULT_INTERNAL_ERROR);
    EXPECT_EQ(get_picture(nullptr, -1, SOURCE_MEMORY).code, RESULT_INTERNAL_ERROR);
    EXPECT_EQ(get_picture(nullptr, 0, SOURCE_MEMORY).code, RESULT_UNKNOWN_FORMAT);
#ifndef _WIN32
    winlayer_reset_calls();
#endif
    HLOCAL info = (HLOCAL)(uintptr_t)0x5EED0, bits = (HLOCAL)(uintptr_t)0x5EED4;
    EXPECT_EQ(call_get_picture(&pellimor(), path.c_str(), 0, SOURCE_FILE, nullptr, &bits, nullptr, 0),
              RESULT_INTERNAL_ERROR);
    EXPECT_EQ(call_get_picture(&pellimor(), path.c_str(), 0, SOURCE_FILE, &info, nullptr, nullptr, 0),
              RESULT_INTERNAL_ERROR);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(bits, nullptr);
#ifndef _WIN32
    EXPECT_EQ(winlayer_call_count(WINLAYER_CREATE_FILE), 0u);
    EXPECT_EQ(winlayer_call_count(WINLAYER_LOCAL_ALLOC), 0u);
#endif
}

// A bitmap whose folder and name no 8-bit code page holds: the wide exports
// describe and decode it; the 8-bit ones, given the code page's lossy form of
// the name, cannot open it.
TEST(Failures, NamesNoCodePageHoldsNeedTheWideExports) {
    LoadedPlugin p = test_load_pellimor();
    ASSERT_NE(p.get_picture_w, nullptr);
    std::u16string path = test_path_w(test_unicode_dir(), u"\u5199\u771F.bmp");
    Bytes file = sample_bitmap();
    test_write_file_w(path, file);
    PictureInfoRecord record = {};
    EXPECT_EQ(p.get_picture_info_w(path.c_str(), 0, SOURCE_FILE, &record), RESULT_OK);
    EXPECT_EQ(record.width, 5);
    HLOCAL info = nullptr, bits = nullptr;
    ASSERT_EQ(p.get_picture_w(path.c_str(), 0, SOURCE_FILE, &info, &bits, nullptr, 0), RESULT_OK);
    test_take_block(info);
    EXPECT_EQ(test_take_block(bits), reference_decode(file));

    std::string lossy = test_lossy_name(path);
    ASSERT_NE(lossy.find('?'), std::string::npos) << "the code page holds the name";
    EXPECT_EQ(p.get_picture_info(lossy.c_str(), 0, SOURCE_FILE, &record), RESULT_READ_ERROR);
    EXPECT_EQ(p.get_picture(lossy.c_str(), 0, SOURCE_FILE, &info, &bits, nullptr, 0), RESULT_READ_ERROR);
    plugin_unload(&p);
}

// Random damage to valid bitmaps: always a code from the set, never a block
// left behind, and on success exactly the reference's pixels. Odd rounds call
// the wide exports.
TEST(Failures, MutationSweep) {
#ifdef _WIN32
    const int rounds = (int)sweep_rounds(1000);
#else
    const int rounds = (int)sweep_rounds(4000);
#endif
    const Masks families[] = {MASKS_565, MASKS_555, {0x0101, 0, 0xFFFF0000}};
    uint32_t x = 20260;
    auto next = [&x] {
        x = x * 1103515245u + 12345u;
        return x >> 8;
    };
    for (int round = 0; round < rounds; ++round) {
        int32_t w = 1 + (int32_t)(next() % 40), h = 1 + (int32_t)(next() % 5);
        Bytes file = make_bmp16(w, h, families[next() % 3], random_pixels(w * h, next()));
        uint32_t changes = 1 + next() % 4;
        for (uint32_t c = 0; c < changes; ++c) {
            // Most damage goes to the 66 bytes of headers and masks.
            size_t at = next() % 4 ? next() % 66 : next() % file.size();
            file[at] = (uint8_t)next();
        }
        if (next() % 4 == 0) file.resize(next() % (file.size() + 1));
        uint32_t fw = 0, fh = 0;
        if (file.size() >= 26) {
            memcpy(&fw, &file[18], 4);
            memcpy(&fh, &file[22], 4);
        }
        int wide = round % 2;
        PictureInfoRecord record;
        int32_t info_code = picture_info(file, &record, wide);
        ASSERT_TRUE(info_code == RESULT_OK || info_code == RESULT_UNKNOWN_FORMAT) << round;
        EXPECT_EQ(probe_buffer(file, wide), info_code == RESULT_OK ? 1 : 0) << round;
        // Keep the pictures small enough to decode thousands of them.
        if ((uint64_t)fw * fh > 1u << 18) continue;
        Picture pic = decode_memory(file, nullptr, 0, wide);
        ASSERT_TRUE(pic.code == RESULT_OK || pic.code == RESULT_UNKNOWN_FORMAT) << round;
        ASSERT_EQ(pic.code, info_code) << round;
        if (pic.code == RESULT_OK) {
            ASSERT_EQ(pic.bits, reference_decode(file)) << round;
        }
    }
}
