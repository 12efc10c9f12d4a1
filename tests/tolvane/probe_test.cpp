// GetPluginInfo, IsSupported and the directory check as hosts see them.
#include <string.h>

#include <functional>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include "tolvane_suite.h"

namespace {

class InfoTest : public testing::TestWithParam<InfoCase> {};

TEST_P(InfoTest, CopiesTheEntry) { test_plugin_info_case(tolvane(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Tolvane, InfoTest,
    testing::Values(InfoCase{0, 128, 4, "00AM"}, InfoCase{0, 5, 4, "00AM"},
                    InfoCase{0, 4, 3, "00A"}, InfoCase{0, 1, 0, ""},
                    InfoCase{1, 10, 9, "Tolvane -"}, InfoCase{2, 128, 5, "*.fpk"},
                    InfoCase{2, 20, 5, "*.fpk"},
                    InfoCase{3, 128, 25, "MORRAKETH Archive (*.FPK)"},
                    InfoCase{4, 128, 0, nullptr}, InfoCase{-1, 128, 0, nullptr},
                    InfoCase{INT32_MIN, 128, 0, nullptr}, InfoCase{0, 0, 0, nullptr},
                    InfoCase{0, -1, 0, nullptr}, InfoCase{1, INT32_MIN, 0, nullptr}));

TEST(Info, DescriptionEndsWithAMakersNotice) {
    test_description_has_notice(tolvane(), "Tolvane - FPK extract library ver0.01  ");
}

// One row of the directory check: an image, what IsSupported says of its
// first 2048 bytes and what GetArchiveInfo says of the whole.
struct DirectoryCase {
    const char *label;
    std::function<Bytes()> make;
    int32_t supported;
    int32_t listed;
};

Bytes three() { return make_fpk(make_members(3)); }

Bytes with(std::function<void(Bytes &)> edit, Bytes image = three()) {
    edit(image);
    return image;
}

Bytes named(const std::string &name) {
    return make_fpk({{"first", {1, 2}}, {name, {3}}, {"last", {4}}});
}

// The largest count and a directory that holds up only for the entries the probe sees.
Bytes huge_count_probe_valid() {
    Bytes image = make_fpk(make_members(TEST_PROBE_ENTRIES));
    fpk_set_count(image, FPK_REFERENCE_COUNT_LIMIT);
    uint32_t offset = (uint32_t)fpk_entry_pos(FPK_REFERENCE_COUNT_LIMIT);
    for (uint32_t i = 0; i < TEST_PROBE_ENTRIES; ++i) {
        fpk_set_offset(image, i, offset);
        offset += 1 + (i * 7) % 23;
    }
    return image;
}

Bytes two_hundred_broken_at_100() {
    Bytes image = make_fpk(make_members(200));
    fpk_set_size(image, 100, 0);
    return image;
}

const DirectoryCase DIRECTORY_CASES[] = {
    {"valid", three, 1, RESULT_OK},
    {"count0", [] { return with([](Bytes &b) { fpk_set_count(b, 0); }); }, 0, RESULT_UNKNOWN_FORMAT},
    {"count_minus1", [] { return with([](Bytes &b) { fpk_set_count(b, 0xFFFFFFFF); }); }, 0,
     RESULT_UNKNOWN_FORMAT},
    {"count_above_largest",
     [] {
         return with([](Bytes &b) {
             fpk_set_count(b, FPK_REFERENCE_COUNT_LIMIT + 1);
             fpk_set_offset(b, 0, 0x7FFFFFFF);
         });
     },
     0, RESULT_UNKNOWN_FORMAT},
    {"count_largest", huge_count_probe_valid, 1, RESULT_UNKNOWN_FORMAT},
    {"1KiB_claiming_largest", [] { return make_fpk_claiming_most(1024, 10); }, 0, RESULT_UNKNOWN_FORMAT},
    {"count_larger_than_entries", [] { return with([](Bytes &b) { fpk_set_count(b, 4); }); }, 0,
     RESULT_UNKNOWN_FORMAT},
    {"offset_exactly_directory_end",
     [] { return with([](Bytes &b) { fpk_set_offset(b, 0, 3 * 24 + 4); }, make_fpk(make_members(3))); },
     1, RESULT_OK},
    {"offset_one_short",
     [] {
         Bytes b = make_fpk(make_members(3));
         // Move every member one byte down, into the directory.
         for (uint32_t i = 0; i < 3; ++i) fpk_set_offset(b, i, fpk_get_offset(b, i) - 1);
         return b;
     },
     0, RESULT_UNKNOWN_FORMAT},
    {"offset_negative",
     [] { return with([](Bytes &b) { fpk_set_offset(b, 0, 0x80000000u); }, make_fpk(make_members(1))); },
     0, RESULT_UNKNOWN_FORMAT},
    {"gap_before_first_member", [] { return make_fpk(make_members(3), 10); }, 1, RESULT_OK},
    {"size0_first", [] { return with([](Bytes &b) { fpk_set_size(b, 0, 0); }); }, 0,
     RESULT_UNKNOWN_FORMAT},
    {"size0_last", [] { return with([](Bytes &b) { fpk_set_size(b, 2, 0); }); }, 0,
     RESULT_UNKNOWN_FORMAT},
    {"size_negative_last", [] { return with([](Bytes &b) { fpk_set_size(b, 2, 0x80000000u); }); },
     0, RESULT_UNKNOWN_FORMAT},
    {"size_2GiB_minus_1_last",
     [] { return with([](Bytes &b) { fpk_set_size(b, 2, 0x7FFFFFFF); }); }, 1, RESULT_OK},
    {"name_15_chars", [] { return named("abcdefghijklmno"); }, 1, RESULT_OK},
    {"name_16_chars", [] { return named("abcdefghijklmnop"); }, 0, RESULT_UNKNOWN_FORMAT},
    {"name_empty", [] { return named(""); }, 0, RESULT_UNKNOWN_FORMAT},
    {"name_blank", [] { return named("a b"); }, 0, RESULT_UNKNOWN_FORMAT},
    {"name_leading_blank", [] { return named(" ab"); }, 0, RESULT_UNKNOWN_FORMAT},
    {"name_0x80", [] { return named("a\x80"); }, 0, RESULT_UNKNOWN_FORMAT},
    {"name_0xFF", [] { return named("\xFF"); }, 0, RESULT_UNKNOWN_FORMAT},
    {"name_0x7F", [] { return named("a\x7F"); }, 0, RESULT_UNKNOWN_FORMAT},
    {"name_control", [] { return named("a\tb"); }, 0, RESULT_UNKNOWN_FORMAT},
    {"name_range_ends", [] { return named("!~"); }, 1, RESULT_OK},
    {"name_separators", [] { return named("dir\\sub/f.txt"); }, 1, RESULT_OK},
    {"name_bytes_after_nul_ignored", [] { return named(std::string("ab\0\xFF\x01 ", 6)); }, 1,
     RESULT_OK},
    {"gap_between_members",
     [] { return with([](Bytes &b) { fpk_set_offset(b, 2, fpk_get_offset(b, 2) + 1); }); }, 0,
     RESULT_UNKNOWN_FORMAT},
    {"overlap_between_members",
     [] { return with([](Bytes &b) { fpk_set_offset(b, 2, fpk_get_offset(b, 2) - 1); }); }, 0,
     RESULT_UNKNOWN_FORMAT},
    {"offsets_wrap_around",
     [] {
         // 0x7FFFFFFF + 0x7FFFFFFF + 2 wraps to exactly the next offset.
         Bytes b = make_fpk({{"a", {1}}, {"b", {2}}, {"c", {3}}, {"d", {4}}});
         uint32_t o0 = fpk_get_offset(b, 0);
         fpk_set_size(b, 0, 0x7FFFFFFF);
         fpk_set_offset(b, 1, o0 + 0x7FFFFFFFu);
         fpk_set_size(b, 1, 0x7FFFFFFF);
         fpk_set_offset(b, 2, o0 + 0xFFFFFFFEu);
         fpk_set_size(b, 2, 2);
         fpk_set_offset(b, 3, o0);
         return b;
     },
     1, RESULT_OK},
    {"200_members_broken_at_100", two_hundred_broken_at_100, 1, RESULT_UNKNOWN_FORMAT},
    {"200_members_broken_at_84", [] { return with([](Bytes &b) { fpk_set_size(b, 84, 0); }, make_fpk(make_members(200))); }, 0,
     RESULT_UNKNOWN_FORMAT},
    {"200_members_broken_at_85", [] { return with([](Bytes &b) { fpk_set_size(b, 85, 0); }, make_fpk(make_members(200))); }, 1,
     RESULT_UNKNOWN_FORMAT},
    {"5000_members_broken_at_4500",
     [] { return with([](Bytes &b) { fpk_set_name(b, 4500, ""); }, make_fpk(make_members(5000))); }, 1,
     RESULT_UNKNOWN_FORMAT},
    {"5000_members", [] { return make_fpk(make_members(5000)); }, 1, RESULT_OK},
};

class DirectoryCheck : public TolvaneTest, public testing::WithParamInterface<DirectoryCase> {};

TEST_P(DirectoryCheck, ProbeAndListing) {
    Bytes image = GetParam().make();
    EXPECT_EQ(probe_buffer(image), GetParam().supported);
    Listing l = list_memory(image);
    EXPECT_EQ(l.code, GetParam().listed);
    if (l.code == RESULT_OK) {
        std::vector<FpkListed> ref = reference_entries(image);
        ASSERT_EQ(l.records.size(), ref.size());
        for (size_t i = 0; i < ref.size(); ++i) {
            EXPECT_EQ(l.records[i].position, ref[i].offset);
            EXPECT_EQ(l.records[i].size, ref[i].size);
            EXPECT_STREQ(l.records[i].file_name, ref[i].name.c_str());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tolvane, DirectoryCheck, testing::ValuesIn(DIRECTORY_CASES),
                         [](const testing::TestParamInfo<DirectoryCase> &i) { return std::string(i.param.label); });

// Files shorter than the 28-byte header read with zeros after their end: up
// to 12 bytes entry 0's name is empty; from 13 bytes it can pass.
TEST_F(TolvaneTest, ShortFilesAreJudgedWithZerosAfterTheirEnd) {
    Bytes full = make_fpk({{"abcdefghijklmno", {9}}});
    std::string dir = test_scratch_dir();
    for (size_t length = 0; length <= 27; ++length) {
        Bytes image(full.begin(), full.begin() + length);
        int32_t expected = length >= 13 ? 1 : 0;
        std::string path = test_path(dir, "short" + std::to_string(length) + ".fpk");
        test_write_file(path, image);
        EXPECT_EQ(probe_buffer(image), expected) << length;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(call_is_supported(&tolvane(), path.c_str(), (void *)h), expected) << length;
        CloseHandle(h);
        Listing l = list_archive(path.c_str(), 0, SOURCE_FILE);
        EXPECT_EQ(l.code, expected ? RESULT_OK : RESULT_UNKNOWN_FORMAT) << length;
        if (l.code == RESULT_OK) {
            ASSERT_EQ(l.records.size(), 1u);
            EXPECT_EQ(std::string(l.records[0].file_name), std::string("abcdefghijklmno", length - 12));
            Bytes member;
            // The member lies wholly past the end: the archive is damaged.
            EXPECT_EQ(get_to_memory(path.c_str(), 28, SOURCE_FILE, &member), RESULT_READ_ERROR);
        }
    }
}

TEST_F(TolvaneTest, HandleProbeReadsFromTheCurrentPositionAndRestoresIt) {
    Bytes image = make_fpk(make_members(3));
    image.insert(image.begin(), 100, 0xEE);
    std::string path = test_path(test_scratch_dir(), "lent.fpk");
    test_write_file(path, image);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_LT((uintptr_t)h, 65536u);
    EXPECT_EQ(call_is_supported(&tolvane(), path.c_str(), (void *)h), 0) << "junk at the start";
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0u);
    ASSERT_EQ(SetFilePointer(h, 100, nullptr, FILE_BEGIN), 100u);
    EXPECT_EQ(call_is_supported(&tolvane(), path.c_str(), (void *)h), 1) << "the archive at the position";
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 100u);
    ASSERT_EQ(SetFilePointer(h, 101, nullptr, FILE_BEGIN), 101u);
    EXPECT_EQ(call_is_supported(&tolvane(), path.c_str(), (void *)h), 0);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 101u);
    // Past the end: zeros, and the position is still restored.
    ASSERT_EQ(SetFilePointer(h, 5000, nullptr, FILE_BEGIN), 5000u);
    EXPECT_EQ(call_is_supported(&tolvane(), path.c_str(), (void *)h), 0);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 5000u);
    CloseHandle(h);
}

#ifndef _WIN32
TEST_F(TolvaneTest, HandleWhosePositionCannotBeRestoredIsNotSupported) {
    std::string path = test_path(test_scratch_dir(), "lent.fpk");
    test_write_file(path, make_fpk(make_members(3)));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    winlayer_reset_calls();
    // The first SetFilePointer learns the position, the second puts it back.
    winlayer_inject(WINLAYER_SET_FILE_POINTER, 2, WINLAYER_FAULT_FAIL);
    EXPECT_EQ(call_is_supported(&tolvane(), path.c_str(), (void *)h), 0);
    winlayer_reset_calls();
    ASSERT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    EXPECT_EQ(call_is_supported(&tolvane(), path.c_str(), (void *)h), 1);
    CloseHandle(h);
}
#endif

TEST_F(TolvaneTest, ProbeBelow65536IsAHandle) {
    // Not a handle of any open file: answered 0, and no attempt to read memory there.
    EXPECT_EQ(call_is_supported(&tolvane(), "x.fpk", (void *)(uintptr_t)65535), 0);
    EXPECT_EQ(call_is_supported(&tolvane(), "x.fpk", (void *)(uintptr_t)0), 0);
}

TEST_F(TolvaneTest, ProbeOf65536IsABufferAddress) {
    void *at = (void *)(uintptr_t)65536;
#ifdef _WIN32
    void *page = VirtualAlloc(at, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
    void *page = mmap(at, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (page == MAP_FAILED) page = nullptr;
#endif
    if (page != at) GTEST_SKIP() << "address 65536 cannot be mapped here";
    Bytes archive = make_fpk(make_members(2));
    memset(page, 0, 4096);
    memcpy(page, archive.data(), archive.size());
    EXPECT_EQ(call_is_supported(&tolvane(), "x.fpk", at), 1);
#ifdef _WIN32
    VirtualFree(page, 0, MEM_RELEASE);
#else
    munmap(page, 4096);
#endif
}

}  // namespace
