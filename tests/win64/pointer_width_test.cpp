// What the interface's 64-bit form adds: `len` and the callback's `user` are
// pointer-sized, the probe may be a buffer above 4 GiB, and the records are
// 448 and 32 bytes. The plug-ins must give the answers the 32-bit build gives:
// a value that no 32-bit field can hold is refused, never cut to 32 bits.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/mman.h>
#endif

#include "bmp16_writer.h"
#include "fpk_writer.h"
#include "test_support.h"

namespace {

constexpr int64_t FOUR_GIB = INT64_C(0x100000000);

// FileInfoRecord, 64-bit form.
constexpr size_t FILE_INFO_SIZE = 448;
constexpr size_t FI_METHOD = 0;
constexpr size_t FI_POSITION = 8;
constexpr size_t FI_PACKED_SIZE = 16;
constexpr size_t FI_SIZE = 24;
constexpr size_t FI_TIMESTAMP = 32;
constexpr size_t FI_PATH = 40;
constexpr size_t FI_FILE_NAME = 240;
constexpr size_t FI_CRC = 440;

// PictureInfoRecord, 64-bit form.
constexpr size_t PICTURE_INFO_SIZE = 32;
constexpr size_t PI_LEFT = 0;
constexpr size_t PI_TOP = 4;
constexpr size_t PI_WIDTH = 8;
constexpr size_t PI_HEIGHT = 12;
constexpr size_t PI_X_DENSITY = 16;
constexpr size_t PI_Y_DENSITY = 18;
constexpr size_t PI_COLOUR_DEPTH = 20;
constexpr size_t PI_INFO_HANDLE = 24;

// Bytes after a host record that the plug-in must leave alone.
constexpr size_t GUARD_SIZE = 16;
constexpr uint8_t FILL = 0xAA;

uint64_t le64(const uint8_t *p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}
uint32_t le32(const uint8_t *p) { return (uint32_t)le64(p) & 0xFFFFFFFFu; }
uint16_t le16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

struct Member {
    const char *name;
    uint32_t size;
};

// Two members, so the first one's data starts at 4 + 2 * 24.
const std::vector<Member> MEMBERS = {{"first.txt", 3}, {"dir\\second.bin", 300}};
constexpr uint32_t FIRST_POSITION = 52;

// The members back to back after the directory, member i filled with the
// byte 'a' + i.
Bytes sample_archive() {
    std::vector<FpkMember> members;
    for (size_t i = 0; i < MEMBERS.size(); ++i)
        members.push_back({MEMBERS[i].name, Bytes(MEMBERS[i].size, (uint8_t)('a' + i))});
    return make_fpk(members);
}

// A 16-bit bitmap with 5-6-5 masks and a pattern in every pixel.
Bytes sample_bitmap(int32_t width, int32_t height) {
    std::vector<uint16_t> pixels;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) pixels.push_back((uint16_t)(x * 0x0841 + y * 0x1234 + 1));
    Bmp16Knobs knobs;
    knobs.fill = 0;
    return make_bmp16(width, height, MASKS_565, pixels, knobs);
}

Bytes with_prefix(size_t n, const Bytes &b) {
    Bytes out(n + b.size(), 0xEE);
    std::copy(b.begin(), b.end(), out.begin() + (ptrdiff_t)n);
    return out;
}

const char *as_chars(const Bytes &b) { return (const char *)b.data(); }

// The progress reports' `user` values, in the order they arrived.
std::vector<LONG_PTR> seen_users;

int32_t WINAPI record_user(int32_t, int32_t, LONG_PTR user) {
    seen_users.push_back(user);
    return 0;
}

bool all_fill(const uint8_t *p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != FILL) return false;
    return true;
}

class PointerWidth : public ::testing::Test {
protected:
    void SetUp() override {
        tolvane = test_load_tolvane();
        pellimor = test_load_pellimor();
        ASSERT_NE(tolvane.get_archive_info, nullptr);
        ASSERT_NE(pellimor.get_picture, nullptr);
        blocks_before = live_blocks();
    }
    void TearDown() override {
        EXPECT_EQ(live_blocks(), blocks_before) << "a block was left behind";
        plugin_unload(&tolvane);
        plugin_unload(&pellimor);
    }
    LoadedPlugin tolvane{};
    LoadedPlugin pellimor{};
    int64_t blocks_before = 0;
};

TEST_F(PointerWidth, ArchiveListHolds448ByteRecords) {
    Bytes fpk = sample_archive();
    HLOCAL info = nullptr;
    ASSERT_EQ(tolvane.get_archive_info(as_chars(fpk), (LONG_PTR)fpk.size(), SOURCE_MEMORY, &info),
              RESULT_OK);
    Bytes list = test_take_block(info);
    ASSERT_EQ(list.size(), (MEMBERS.size() + 1) * FILE_INFO_SIZE);
    uint64_t position = FIRST_POSITION;
    for (size_t i = 0; i < MEMBERS.size(); ++i) {
        SCOPED_TRACE(MEMBERS[i].name);
        const uint8_t *r = list.data() + i * FILE_INFO_SIZE;
        EXPECT_EQ(r[FI_METHOD], ' ');
        EXPECT_EQ(r[FI_METHOD + 1], 0);
        EXPECT_EQ(le64(r + FI_POSITION), position);
        EXPECT_EQ(le64(r + FI_PACKED_SIZE), MEMBERS[i].size);
        EXPECT_EQ(le64(r + FI_SIZE), MEMBERS[i].size);
        EXPECT_EQ(le64(r + FI_TIMESTAMP), 0u);
        EXPECT_EQ(r[FI_PATH], 0);
        EXPECT_STREQ((const char *)r + FI_FILE_NAME, MEMBERS[i].name);
        EXPECT_EQ(le32(r + FI_CRC), 0u);
        position += MEMBERS[i].size;
    }
    EXPECT_EQ(list[MEMBERS.size() * FILE_INFO_SIZE], 0) << "terminator record";
}

TEST_F(PointerWidth, FileInfoWritesWholeEightByteFields) {
    Bytes fpk = sample_archive();
    uint8_t record[FILE_INFO_SIZE + GUARD_SIZE];
    memset(record, FILL, sizeof record);
    ASSERT_EQ(tolvane.get_file_info(as_chars(fpk), (LONG_PTR)fpk.size(), "dir\\second.bin", SOURCE_MEMORY,
                                    (FileInfoRecord *)record),
              RESULT_OK);
    EXPECT_EQ(memcmp(record + FI_METHOD, " ", 2), 0);
    EXPECT_EQ(le64(record + FI_POSITION), FIRST_POSITION + MEMBERS[0].size);
    EXPECT_EQ(le64(record + FI_PACKED_SIZE), 300u);
    EXPECT_EQ(le64(record + FI_SIZE), 300u);
    EXPECT_EQ(le64(record + FI_TIMESTAMP), 0u);
    EXPECT_EQ(record[FI_PATH], 0);
    EXPECT_STREQ((const char *)record + FI_FILE_NAME, "dir\\second.bin");
    EXPECT_EQ(le32(record + FI_CRC), 0u);
    EXPECT_TRUE(all_fill(record + FILE_INFO_SIZE, GUARD_SIZE)) << "written past 448 bytes";
}

TEST_F(PointerWidth, PictureInfoIs32Bytes) {
    Bytes bmp = sample_bitmap(7, 3);
    uint8_t record[PICTURE_INFO_SIZE + GUARD_SIZE];
    memset(record, FILL, sizeof record);
    ASSERT_EQ(pellimor.get_picture_info(as_chars(bmp), (LONG_PTR)bmp.size(), SOURCE_MEMORY,
                                        (PictureInfoRecord *)record),
              RESULT_OK);
    EXPECT_EQ(le32(record + PI_LEFT), 0u);
    EXPECT_EQ(le32(record + PI_TOP), 0u);
    EXPECT_EQ(le32(record + PI_WIDTH), 7u);
    EXPECT_EQ(le32(record + PI_HEIGHT), 3u);
    EXPECT_EQ(le16(record + PI_X_DENSITY), 0u);
    EXPECT_EQ(le16(record + PI_Y_DENSITY), 0u);
    EXPECT_EQ(le16(record + PI_COLOUR_DEPTH), 16u);
    EXPECT_EQ(le64(record + PI_INFO_HANDLE), 0u) << "all 8 bytes of info_handle";
    EXPECT_TRUE(all_fill(record + PICTURE_INFO_SIZE, GUARD_SIZE)) << "written past 32 bytes";
}

// Where the archive and the bitmap start in their files: exactly the first
// member's position, so that a `len` cut to its low 32 bits would find either
// the archive, the bitmap or that member.
constexpr int64_t START = FIRST_POSITION;

struct LenRow {
    const char *label;
    int64_t len;
};

void PrintTo(const LenRow &row, std::ostream *os) { *os << row.label; }

const LenRow UNREACHABLE_OFFSETS[] = {
    {"2^31", INT64_C(0x80000000)},
    {"2^32 - 1", INT64_C(0xFFFFFFFF)},
    {"2^32", FOUR_GIB},
    {"2^32 + start", FOUR_GIB + START},
    {"start - 2^32", START - FOUR_GIB},
    {"2^40 + start", (INT64_C(1) << 40) + START},
    {"2^63 - 1", INT64_MAX},
    {"-2^63 + start", INT64_MIN + START},
};

class UnreachableOffset : public PointerWidth, public ::testing::WithParamInterface<LenRow> {
protected:
    void SetUp() override {
        PointerWidth::SetUp();
        std::string dir = test_scratch_dir();
        archive_at_start = test_path(dir, "inside.dat");
        archive_at_zero = test_path(dir, "archive.fpk");
        bitmap_at_start = test_path(dir, "picture.dat");
        test_write_file(archive_at_start, with_prefix(START, sample_archive()));
        test_write_file(archive_at_zero, sample_archive());
        test_write_file(bitmap_at_start, with_prefix(START, sample_bitmap(5, 2)));
    }
    std::string archive_at_start, archive_at_zero, bitmap_at_start;
};

// The same files at `len` = START work, so a refusal below is the offset's doing.
TEST_F(PointerWidth, FilesAtTheirRealOffsetAreRead) {
    std::string dir = test_scratch_dir();
    std::string archive = test_path(dir, "inside.dat"), bitmap = test_path(dir, "picture.dat");
    test_write_file(archive, with_prefix(START, sample_archive()));
    test_write_file(bitmap, with_prefix(START, sample_bitmap(5, 2)));
    HLOCAL info = nullptr;
    ASSERT_EQ(tolvane.get_archive_info(archive.c_str(), START, SOURCE_FILE, &info), RESULT_OK);
    test_take_block(info);
    uint8_t record[FILE_INFO_SIZE];
    EXPECT_EQ(tolvane.get_file_info(archive.c_str(), START, "first.txt", 0, (FileInfoRecord *)record),
              RESULT_OK);
    uint8_t picture[PICTURE_INFO_SIZE];
    EXPECT_EQ(pellimor.get_picture_info(bitmap.c_str(), START, SOURCE_FILE, (PictureInfoRecord *)picture),
              RESULT_OK);
    HLOCAL bits = nullptr;
    ASSERT_EQ(pellimor.get_picture(bitmap.c_str(), START, SOURCE_FILE, &info, &bits, nullptr, 0),
              RESULT_OK);
    test_take_block(info);
    test_take_block(bits);
}

TEST_P(UnreachableOffset, EveryExportAnswersReadError) {
    const LONG_PTR len = (LONG_PTR)GetParam().len;

    HLOCAL info = nullptr;
    EXPECT_EQ(tolvane.get_archive_info(archive_at_start.c_str(), len, SOURCE_FILE, &info),
              RESULT_READ_ERROR);
    EXPECT_EQ(info, nullptr);
    if (info) test_take_block(info);

    uint8_t record[FILE_INFO_SIZE];
    memset(record, FILL, sizeof record);
    EXPECT_EQ(tolvane.get_file_info(archive_at_start.c_str(), len, "first.txt", 0,
                                    (FileInfoRecord *)record),
              RESULT_READ_ERROR);
    EXPECT_TRUE(all_fill(record, sizeof record)) << "the host's record was touched";

    HLOCAL member = nullptr;
    EXPECT_EQ(tolvane.get_file(archive_at_zero.c_str(), len, (char *)&member, SOURCE_FILE | DEST_MEMORY,
                               nullptr, 0),
              RESULT_READ_ERROR);
    EXPECT_EQ(member, nullptr);
    if (member) test_take_block(member);

    uint8_t picture[PICTURE_INFO_SIZE];
    memset(picture, FILL, sizeof picture);
    EXPECT_EQ(pellimor.get_picture_info(bitmap_at_start.c_str(), len, SOURCE_FILE,
                                        (PictureInfoRecord *)picture),
              RESULT_READ_ERROR);
    EXPECT_TRUE(all_fill(picture, sizeof picture)) << "the host's record was touched";

    HLOCAL pinfo = (HLOCAL)&pinfo, pbits = (HLOCAL)&pbits;
    EXPECT_EQ(pellimor.get_picture(bitmap_at_start.c_str(), len, SOURCE_FILE, &pinfo, &pbits, nullptr, 0),
              RESULT_READ_ERROR);
    EXPECT_EQ(pinfo, nullptr);
    EXPECT_EQ(pbits, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Rows, UnreachableOffset, ::testing::ValuesIn(UNREACHABLE_OFFSETS),
                         [](const ::testing::TestParamInfo<LenRow> &info) {
                             return "row" + std::to_string(info.index);
                         });

// A memory image described as longer than 4 GiB is read as what it is (and
// refused at address 0); a
// length cut to 32 bits would leave too few bytes for the headers.
const LenRow LONG_IMAGES[] = {
    {"2^32", FOUR_GIB},
    {"2^32 + 1", FOUR_GIB + 1},
    {"2^32 + 28", FOUR_GIB + 28},
    {"2^63 - 1", INT64_MAX},
};

TEST_F(PointerWidth, ImageLengthAbove4GiBIsNotCut) {
    Bytes fpk = sample_archive();
    Bytes bmp = sample_bitmap(5, 3);
    HLOCAL reference_info = nullptr, reference_bits = nullptr;
    ASSERT_EQ(pellimor.get_picture(as_chars(bmp), (LONG_PTR)bmp.size(), SOURCE_MEMORY, &reference_info,
                                   &reference_bits, nullptr, 0),
              RESULT_OK);
    Bytes header = test_take_block(reference_info);
    Bytes pixels = test_take_block(reference_bits);

    for (const LenRow &row : LONG_IMAGES) {
        SCOPED_TRACE(row.label);
        const LONG_PTR len = (LONG_PTR)row.len;
        HLOCAL info = nullptr;
        ASSERT_EQ(tolvane.get_archive_info(as_chars(fpk), len, SOURCE_MEMORY, &info), RESULT_OK);
        Bytes list = test_take_block(info);
        ASSERT_EQ(list.size(), (MEMBERS.size() + 1) * FILE_INFO_SIZE);
        EXPECT_EQ(le64(list.data() + FILE_INFO_SIZE + FI_POSITION), FIRST_POSITION + MEMBERS[0].size);

        uint8_t record[FILE_INFO_SIZE];
        EXPECT_EQ(tolvane.get_file_info(as_chars(fpk), len, "DIR\\SECOND.BIN", SOURCE_MEMORY | MATCH_IGNORE_CASE,
                                        (FileInfoRecord *)record),
                  RESULT_OK);

        uint8_t picture[PICTURE_INFO_SIZE];
        ASSERT_EQ(pellimor.get_picture_info(as_chars(bmp), len, SOURCE_MEMORY, (PictureInfoRecord *)picture),
                  RESULT_OK);
        EXPECT_EQ(le32(picture + PI_WIDTH), 5u);

        HLOCAL pinfo = nullptr, pbits = nullptr;
        ASSERT_EQ(pellimor.get_picture(as_chars(bmp), len, SOURCE_MEMORY, &pinfo, &pbits, nullptr, 0),
                  RESULT_OK);
        EXPECT_EQ(test_take_block(pinfo), header);
        EXPECT_EQ(test_take_block(pbits), pixels);

        // At address 0 such a length is a host's mistake, refused, and not
        // taken for the empty image a length cut to 32 bits would be.
        info = (HLOCAL)&info;
        EXPECT_EQ(tolvane.get_archive_info(nullptr, len, SOURCE_MEMORY, &info), RESULT_INTERNAL_ERROR);
        EXPECT_EQ(info, nullptr);
        EXPECT_EQ(tolvane.get_file_info(nullptr, len, "first.txt", SOURCE_MEMORY, (FileInfoRecord *)record),
                  RESULT_INTERNAL_ERROR);
        HLOCAL member = (HLOCAL)&member;
        EXPECT_EQ(tolvane.get_file(nullptr, len, (char *)&member, SOURCE_MEMORY | DEST_MEMORY, nullptr, 0),
                  RESULT_INTERNAL_ERROR);
        EXPECT_EQ(member, (HLOCAL)&member);
        EXPECT_EQ(pellimor.get_picture_info(nullptr, len, SOURCE_MEMORY, (PictureInfoRecord *)picture),
                  RESULT_INTERNAL_ERROR);
        pinfo = (HLOCAL)&pinfo;
        pbits = (HLOCAL)&pbits;
        EXPECT_EQ(pellimor.get_picture(nullptr, len, SOURCE_MEMORY, &pinfo, &pbits, nullptr, 0),
                  RESULT_INTERNAL_ERROR);
        EXPECT_EQ(pinfo, nullptr);
        EXPECT_EQ(pbits, nullptr);
    }
}

// GetFile's memory source: `len` is the member's size. Sizes of 2 GiB and
// more are refused as the 32-bit build refuses them, and never cut to the
// handful of bytes their low 32 bits would say.
const LenRow HUGE_MEMBERS[] = {
    {"2^31", INT64_C(0x80000000)},
    {"2^32", FOUR_GIB},
    {"2^32 + 5", FOUR_GIB + 5},
    {"2^63 - 1", INT64_MAX},
};

TEST_F(PointerWidth, MemberOf2GiBOrMoreIsRefused) {
    Bytes image(64, 0x5A);
    std::string dir = test_scratch_dir();
    for (const LenRow &row : HUGE_MEMBERS) {
        SCOPED_TRACE(row.label);
        HLOCAL member = nullptr;
        EXPECT_EQ(tolvane.get_file(as_chars(image), (LONG_PTR)row.len, (char *)&member,
                                   SOURCE_MEMORY | DEST_MEMORY, nullptr, 0),
                  RESULT_NO_MEMORY);
        EXPECT_EQ(member, nullptr);
        if (member) test_take_block(member);

        EXPECT_EQ(tolvane.get_file(as_chars(image), (LONG_PTR)row.len, (char *)dir.c_str(),
                                   SOURCE_MEMORY | DEST_FILE, nullptr, 0),
                  RESULT_NO_MEMORY);
        EXPECT_FALSE(test_file_exists(test_path(dir, "noname")));
    }
}

// `user` reaches the callback with all 64 bits, the sign bit included.
const LONG_PTR USER_VALUES[] = {
    (LONG_PTR)INT64_C(0x1122334455667788),
    (LONG_PTR)INT64_C(-0x7FFFFFFFFFFFFFFF),
    (LONG_PTR)INT64_C(0xFFFFFFFF),
    (LONG_PTR)INT64_C(0x100000000),
};

class UserValue : public PointerWidth, public ::testing::WithParamInterface<LONG_PTR> {};

TEST_P(UserValue, ReachesEveryProgressReport) {
    const LONG_PTR user = GetParam();
    Bytes data(100, 0x42);
    HLOCAL member = nullptr;
    seen_users.clear();
    ASSERT_EQ(tolvane.get_file(as_chars(data), (LONG_PTR)data.size(), (char *)&member,
                               SOURCE_MEMORY | DEST_MEMORY, record_user, user),
              RESULT_OK);
    EXPECT_EQ(test_take_block(member), data);
    // 32 steps, the closing (32, 32) and the final (0, 32).
    EXPECT_EQ(seen_users, std::vector<LONG_PTR>(34, user));

    Bytes bmp = sample_bitmap(4, 3);
    HLOCAL info = nullptr, bits = nullptr;
    seen_users.clear();
    ASSERT_EQ(pellimor.get_picture(as_chars(bmp), (LONG_PTR)bmp.size(), SOURCE_MEMORY, &info, &bits,
                                   record_user, user),
              RESULT_OK);
    test_take_block(info);
    test_take_block(bits);
    // One report per row and one at the end.
    EXPECT_EQ(seen_users, std::vector<LONG_PTR>(4, user));
}

INSTANTIATE_TEST_SUITE_P(Rows, UserValue, ::testing::ValuesIn(USER_VALUES));

// A page-aligned buffer at an address whose low 32 bits are all zero: a probe
// cut to 32 bits would look like handle 0.
struct HighBuffer {
    uint8_t *data;
    size_t size;
};

HighBuffer high_buffer_alloc(size_t size) {
    // Above the reach of 32-bit pointers, clear of where Windows puts images
    // and of AddressSanitizer's shadow memory natively.
    const uint64_t candidates[] = {UINT64_C(0x100000000) * 3,  UINT64_C(0x100000000) * 5,
                                   UINT64_C(0x100000000) * 17, UINT64_C(0x100000000) * 100,
                                   UINT64_C(0x200000000000),   UINT64_C(0x300000000000)};
    for (uint64_t address : candidates) {
#ifdef _WIN32
        void *p = VirtualAlloc((void *)(uintptr_t)address, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
        void *p = mmap((void *)(uintptr_t)address, size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (p == MAP_FAILED) p = nullptr;
        if (p && (uintptr_t)p != address) {
            munmap(p, size);
            p = nullptr;
        }
#endif
        if (p) return HighBuffer{(uint8_t *)p, size};
    }
    return HighBuffer{nullptr, 0};
}

void high_buffer_free(HighBuffer *b) {
    if (!b->data) return;
#ifdef _WIN32
    VirtualFree(b->data, 0, MEM_RELEASE);
#else
    munmap(b->data, b->size);
#endif
    b->data = nullptr;
}

TEST_F(PointerWidth, ProbeBufferAbove4GiB) {
    HighBuffer buffer = high_buffer_alloc(65536);
    ASSERT_NE(buffer.data, nullptr) << "no free address above 4 GiB";
    ASSERT_GE((uint64_t)(uintptr_t)buffer.data, (uint64_t)FOUR_GIB);
    ASSERT_EQ((uintptr_t)buffer.data & 0xFFFFFFFFu, 0u);

    Bytes fpk = sample_archive();
    Bytes bmp = sample_bitmap(5, 2);
    memset(buffer.data, 0, PROBE_BUFFER_SIZE);
    memcpy(buffer.data, fpk.data(), fpk.size());
    EXPECT_EQ(tolvane.is_supported("archive.fpk", buffer.data), 1);
    EXPECT_EQ(pellimor.is_supported("archive.fpk", buffer.data), 0);

    memset(buffer.data, 0, PROBE_BUFFER_SIZE);
    memcpy(buffer.data, bmp.data(), bmp.size());
    EXPECT_EQ(pellimor.is_supported("picture.bmp", buffer.data), 1);
    EXPECT_EQ(tolvane.is_supported("picture.bmp", buffer.data), 0);
    high_buffer_free(&buffer);
}

TEST_F(PointerWidth, ProbeHandleBelow65536) {
    std::string path = test_path(test_scratch_dir(), "archive.fpk");
    test_write_file(path, with_prefix(START, sample_archive()));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_LT((uintptr_t)file, 65536u);
    ASSERT_EQ(SetFilePointer(file, (LONG)START, nullptr, FILE_BEGIN), (DWORD)START);
    EXPECT_EQ(tolvane.is_supported(path.c_str(), (void *)file), 1);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), (DWORD)START) << "position not restored";
    EXPECT_EQ(pellimor.is_supported(path.c_str(), (void *)file), 0);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), (DWORD)START) << "position not restored";
    CloseHandle(file);
}

}  // namespace
