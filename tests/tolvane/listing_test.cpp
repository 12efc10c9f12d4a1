// GetArchiveInfo and GetFileInfo.
#include <string.h>

#include "plugin_wide.h"
#include "tolvane_suite.h"

namespace {

void expect_record(const FileInfoRecord &r, uint32_t position, uint32_t size, const char *name) {
    EXPECT_STREQ(r.method, " ");
    EXPECT_EQ(r.position, position);
    EXPECT_EQ(r.packed_size, size);
    EXPECT_EQ(r.size, size);
    EXPECT_EQ(r.timestamp, 0);
    EXPECT_EQ(r.crc, 0u);
    EXPECT_EQ(r.path[0], 0);
    EXPECT_STREQ(r.file_name, name);
}

TEST_F(TolvaneTest, OneMemberGivesTheMemberAndTheTerminator) {
    Listing l = list_memory(make_fpk({{"only.txt", Bytes(7, 1)}}));
    ASSERT_EQ(l.code, RESULT_OK);
    ASSERT_EQ(l.raw.size(), 2 * plugin_list_record_size(test_wide()));
    ASSERT_EQ(l.records.size(), 1u);
    expect_record(l.records[0], 28, 7, "only.txt");
}

TEST_F(TolvaneTest, PositionsFollowFromTheFirstOffsetAndTheSizes) {
    std::vector<FpkMember> members = make_members(40);
    Bytes image = make_fpk(members, 33);
    std::string path = test_path(test_scratch_dir(), "forty.fpk");
    test_write_file(path, image);
    for (const Listing &l : {list_memory(image), list_archive(path.c_str(), 0, SOURCE_FILE)}) {
        ASSERT_EQ(l.code, RESULT_OK);
        ASSERT_EQ(l.records.size(), members.size());
        uint32_t position = 4 + 40 * 24 + 33;
        for (size_t i = 0; i < members.size(); ++i) {
            expect_record(l.records[i], position, (uint32_t)members[i].data.size(), members[i].name.c_str());
            position += (uint32_t)members[i].data.size();
        }
    }
}

// Offsets in each form of each record: the 8-bit and wide records of the
// 32-bit and 64-bit interface.
struct RecordLayout {
    size_t size, position, packed, length, timestamp, path, name, crc;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
const RecordLayout NARROW = {428, 8, 12, 16, 20, 24, 224, 424}, WIDE = {828, 8, 12, 16, 20, 24, 424, 824};
#else
const RecordLayout NARROW = {448, 8, 16, 24, 32, 40, 240, 440}, WIDE = {848, 8, 16, 24, 32, 40, 440, 840};
#endif

// A member's whole record: " ", the position, both sizes and the name in
// their places, and 0 in every other byte, the name's unused units, the rest
// of method and path and the 64-bit form's padding included.
Bytes whole_record(const RecordLayout &at, int wide, uint64_t position, uint64_t size, const std::string &name) {
    Bytes r(at.size, 0);
    r[0] = ' ';
    for (size_t k = 0; k < at.packed - at.position; ++k) {
        r[at.position + k] = (uint8_t)(position >> 8 * k);
        r[at.packed + k] = (uint8_t)(size >> 8 * k);
        r[at.length + k] = (uint8_t)(size >> 8 * k);
    }
    for (size_t i = 0; i < name.size(); ++i) r[at.name + i * (wide ? 2 : 1)] = (uint8_t)name[i];
    return r;
}

TEST_F(TolvaneTest, RecordLayoutInTheHandedOverBlock) {
    Bytes image = make_fpk({{"a", Bytes(3, 0)}, {"bcd", Bytes(1, 0)}});
    fpk_set_size(image, 1, 0x01020304);
    Listing l = list_memory(image);
    ASSERT_EQ(l.code, RESULT_OK);
    const RecordLayout &at = test_wide() ? WIDE : NARROW;
    ASSERT_EQ(plugin_list_record_size(test_wide()), at.size);
    const uint8_t *r1 = &l.raw[at.size];
    EXPECT_EQ(memcmp(r1, " ", 2), 0);
    const uint8_t expected_position[] = {4 + 48 + 3, 0, 0, 0};
    EXPECT_EQ(memcmp(r1 + at.position, expected_position, 4), 0);
    const uint8_t expected_size[] = {4, 3, 2, 1};
    EXPECT_EQ(memcmp(r1 + at.packed, expected_size, 4), 0);
    EXPECT_EQ(memcmp(r1 + at.length, expected_size, 4), 0);
    const uint8_t zero[4] = {};
    EXPECT_EQ(memcmp(r1 + at.timestamp, zero, 4), 0);
    EXPECT_EQ(memcmp(r1 + at.path, zero, test_wide() ? 2 : 1), 0);
    if (test_wide()) {
        const uint8_t name[] = {'b', 0, 'c', 0, 'd', 0, 0, 0};
        EXPECT_EQ(memcmp(r1 + at.name, name, sizeof name), 0);
    } else {
        EXPECT_EQ(memcmp(r1 + at.name, "bcd", 4), 0);
    }
    EXPECT_EQ(memcmp(r1 + at.crc, zero, 4), 0);
    EXPECT_EQ(l.raw[2 * at.size], 0) << "terminator";
    // No byte of the list is left as the heap held it: every one without
    // meaning is 0, the whole terminator too.
    ASSERT_EQ(l.raw.size(), 3 * at.size);
    EXPECT_EQ(Bytes(l.raw.begin(), l.raw.begin() + at.size), whole_record(at, test_wide(), 52, 3, "a"));
    EXPECT_EQ(Bytes(r1, r1 + at.size), whole_record(at, test_wide(), 55, 0x01020304, "bcd"));
    EXPECT_EQ(Bytes(r1 + at.size, r1 + 2 * at.size), Bytes(at.size, 0)) << "terminator";
}

TEST_F(TolvaneTest, ArchiveAtAnOffsetOfItsFile) {
    Bytes image(37, 0xEE);
    Bytes archive = make_fpk(make_members(5));
    image.insert(image.end(), archive.begin(), archive.end());
    std::string path = test_path(test_scratch_dir(), "inside.bin");
    test_write_file(path, image);
    Listing l = list_archive(path.c_str(), 37, SOURCE_FILE);
    ASSERT_EQ(l.code, RESULT_OK);
    ASSERT_EQ(l.records.size(), 5u);
    // Positions count from the archive's start, as stored.
    EXPECT_EQ(l.records[0].position, 4u + 5 * 24);
    EXPECT_EQ(list_archive(path.c_str(), 0, SOURCE_FILE).code, RESULT_UNKNOWN_FORMAT);
    // GetFile always reads the directory at the file's start.
    Bytes member;
    EXPECT_NE(get_to_memory(path.c_str(), (LONG_PTR)l.records[0].position, SOURCE_FILE, &member), RESULT_OK);
}

FileInfoRecord blank_record() {
    FileInfoRecord r;
    memset(&r, 0xCC, sizeof r);
    return r;
}

struct SourceFailure {
    const char *label;
    LONG_PTR len;
    int32_t code;
    uint32_t flag = SOURCE_FILE;  // SOURCE_MEMORY: an image at address 0 of `len` bytes
};

TEST_F(TolvaneTest, SourceFailuresLeaveTheHostVariableNull) {
    std::string dir = test_scratch_dir();
    std::string path = test_path(dir, "three.fpk");
    test_write_file(path, make_fpk(make_members(3)));
    const SourceFailure rows[] = {
        {"negative offset", -1, RESULT_READ_ERROR},
        {"offset 2^31 - 1, past the end", 0x7FFFFFFF, RESULT_UNKNOWN_FORMAT},
        {"offset past the end", 100000, RESULT_UNKNOWN_FORMAT},
        {"offset inside", 1, RESULT_UNKNOWN_FORMAT},
        // A host's mistake, refused before anything is read; no bytes at
        // address 0 are an empty image, as ever.
        {"image at 0 of 1 byte", 1, RESULT_INTERNAL_ERROR, SOURCE_MEMORY},
        {"image at 0 of 100000 bytes", 100000, RESULT_INTERNAL_ERROR, SOURCE_MEMORY},
        {"image at 0 of -1 bytes", -1, RESULT_INTERNAL_ERROR, SOURCE_MEMORY},
        {"image at 0 of 0 bytes", 0, RESULT_UNKNOWN_FORMAT, SOURCE_MEMORY},
    };
    for (const SourceFailure &row : rows) {
        const char *src = row.flag == SOURCE_MEMORY ? nullptr : path.c_str();
        HLOCAL info = (HLOCAL)(uintptr_t)0x5A5A0;
        EXPECT_EQ(tolvane().get_archive_info(src, row.len, row.flag, &info), row.code) << row.label;
        EXPECT_EQ(info, nullptr) << row.label;
        // GetFileInfo fails alike, before its record is touched.
        FileInfoRecord r = blank_record(), before = r;
        EXPECT_EQ(tolvane().get_file_info(src, row.len, "m0", row.flag, &r), row.code) << row.label;
        EXPECT_EQ(memcmp(&r, &before, sizeof r), 0) << row.label;
    }
    HLOCAL info = (HLOCAL)(uintptr_t)0x5A5A0;
    EXPECT_EQ(tolvane().get_archive_info(test_path(dir, "missing.fpk").c_str(), 0, SOURCE_FILE, &info),
              RESULT_READ_ERROR);
    EXPECT_EQ(info, nullptr);
    // A null name is an empty one: no file of that name.
    for (const char *name : {(const char *)nullptr, ""}) {
        info = (HLOCAL)(uintptr_t)0x5A5A0;
        EXPECT_EQ(tolvane().get_archive_info(name, 0, SOURCE_FILE, &info), RESULT_READ_ERROR);
        EXPECT_EQ(info, nullptr);
        FileInfoRecord r;
        EXPECT_EQ(tolvane().get_file_info(name, 0, "m0", SOURCE_FILE, &r), RESULT_READ_ERROR);
        EXPECT_EQ(tolvane().get_file_info(path.c_str(), 0, name, SOURCE_FILE, &r), RESULT_READ_ERROR);
    }
    // No variable to receive the list, no record to fill: refused, nothing opened.
#ifndef _WIN32
    winlayer_reset_calls();
#endif
    EXPECT_EQ(tolvane().get_archive_info(path.c_str(), 0, SOURCE_FILE, nullptr), RESULT_INTERNAL_ERROR);
    EXPECT_EQ(tolvane().get_file_info(path.c_str(), 0, "m0", SOURCE_FILE, nullptr), RESULT_INTERNAL_ERROR);
#ifndef _WIN32
    EXPECT_EQ(winlayer_call_count(WINLAYER_CREATE_FILE), 0u);
#endif
    // Source kinds other than memory name a file.
    EXPECT_EQ(list_archive(path.c_str(), 0, 6).code, RESULT_OK);
    EXPECT_EQ(list_archive(path.c_str(), 0, 0x80 | 0x100).code, RESULT_OK);
}

TEST_F(TolvaneTest, MemorySourceReadsZerosPastItsLength) {
    Bytes image = make_fpk({{"abc", {1, 2, 3}}});
    // Cut inside entry 0's name after its first character: zeros end the name.
    Bytes cut(image.begin(), image.begin() + 13);
    Listing l = list_memory(cut);
    ASSERT_EQ(l.code, RESULT_OK);
    EXPECT_STREQ(l.records[0].file_name, "a");
    EXPECT_EQ(list_memory(Bytes()).code, RESULT_UNKNOWN_FORMAT);
    // A negative length is an empty image.
    EXPECT_EQ(list_archive((const char *)image.data(), -5, SOURCE_MEMORY).code, RESULT_UNKNOWN_FORMAT);
}

struct FindCase {
    const char *sought;
    uint32_t flag;
    int32_t code;
    int index;  // expected member, -1: none
};

class FileInfoTest : public TolvaneTest, public testing::WithParamInterface<FindCase> {};

const std::vector<FpkMember> FIND_MEMBERS = {
    {"abc.txt", {1}},        {"dir\\x.bin", {2, 2}}, {"ABC.TXT", {3, 3, 3}},
    {"twin", {4}},           {"twin", {5, 5}},       {"Mixed.Case", {6}},
};

TEST_P(FileInfoTest, FindsTheFirstMatch) {
    const FindCase &c = GetParam();
    Bytes image = make_fpk(FIND_MEMBERS);
    std::vector<FpkListed> ref = reference_entries(image);
    std::string path = test_path(test_scratch_dir(), "find.fpk");
    test_write_file(path, image);
    for (int from_file = 0; from_file < 2; ++from_file) {
        FileInfoRecord r = blank_record();
        int32_t code = from_file ? tolvane().get_file_info(path.c_str(), 0, c.sought, c.flag, &r)
                                 : tolvane().get_file_info((const char *)image.data(), (LONG_PTR)image.size(),
                                                           c.sought, c.flag | SOURCE_MEMORY, &r);
        EXPECT_EQ(code, c.code);
        if (c.index < 0) {
            EXPECT_EQ(r.method[0], 0);
            continue;
        }
        const FpkListed &e = ref[(size_t)c.index];
        // The whole record, its bytes without meaning cleared as in a list.
        EXPECT_EQ(Bytes((const uint8_t *)&r, (const uint8_t *)&r + sizeof r),
                  whole_record(NARROW, 0, e.offset, e.size, e.name));
        EXPECT_STREQ(r.method, " ");
        EXPECT_EQ(r.position, e.offset);
        EXPECT_EQ(r.size, e.size);
        EXPECT_EQ(r.packed_size, e.size);
        EXPECT_STREQ(r.file_name, e.name.c_str());
        EXPECT_EQ(r.path[0], 0);
        EXPECT_EQ(r.crc, 0u);
        EXPECT_EQ(r.timestamp, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tolvane, FileInfoTest,
    testing::Values(FindCase{"abc.txt", 0, RESULT_OK, 0}, FindCase{"ABC.TXT", 0, RESULT_OK, 2},
                    FindCase{"Abc.txt", 0, RESULT_READ_ERROR, -1},
                    FindCase{"Abc.txt", MATCH_IGNORE_CASE, RESULT_OK, 0},
                    FindCase{"ABC.TXT", MATCH_IGNORE_CASE, RESULT_OK, 0},
                    FindCase{"mixed.case", 0, RESULT_READ_ERROR, -1},
                    FindCase{"mixed.case", MATCH_IGNORE_CASE, RESULT_OK, 5},
                    FindCase{"twin", 0, RESULT_OK, 3}, FindCase{"dir\\x.bin", 0, RESULT_OK, 1},
                    FindCase{"x.bin", 0, RESULT_READ_ERROR, -1},
                    FindCase{"dir/x.bin", MATCH_IGNORE_CASE, RESULT_READ_ERROR, -1},
                    FindCase{"abc", 0, RESULT_READ_ERROR, -1},
                    FindCase{"abc.txt.", 0, RESULT_READ_ERROR, -1},
                    FindCase{"", 0, RESULT_READ_ERROR, -1}));

TEST_F(TolvaneTest, FileInfoLeavesTheRecordAloneWhenTheArchiveFails) {
    Bytes bad = make_fpk(make_members(3));
    fpk_set_size(bad, 1, 0);
    const FileInfoRecord before = blank_record();
    FileInfoRecord r = before;
    EXPECT_EQ(tolvane().get_file_info((const char *)bad.data(), (LONG_PTR)bad.size(), "m0", SOURCE_MEMORY, &r),
              RESULT_UNKNOWN_FORMAT);
    EXPECT_EQ(memcmp(&r, &before, sizeof r), 0);
    EXPECT_EQ(tolvane().get_file_info(test_path(test_scratch_dir(), "none").c_str(), 0, "m0", 0, &r),
              RESULT_READ_ERROR);
    EXPECT_EQ(memcmp(&r, &before, sizeof r), 0);
}

#ifndef _WIN32
TEST_F(TolvaneTest, ScratchAndListFailuresAndTheHostVariable) {
    Bytes image = make_fpk(make_members(3));
    struct Row {
        WinlayerCall call;
        uint32_t k;
        int32_t code;
    } rows[] = {
        {WINLAYER_LOCAL_ALLOC, 1, RESULT_NO_MEMORY},   // the scratch directory
        {WINLAYER_LOCAL_LOCK, 1, RESULT_NO_MEMORY},
        {WINLAYER_LOCAL_ALLOC, 2, RESULT_NO_MEMORY},   // the record list
        {WINLAYER_LOCAL_LOCK, 2, RESULT_MEMORY_ERROR},
    };
    for (const Row &r : rows) {
        winlayer_reset_calls();
        winlayer_inject(r.call, r.k, WINLAYER_FAULT_FAIL);
        HLOCAL info = (HLOCAL)(uintptr_t)0x5A5A0;
        EXPECT_EQ(tolvane().get_archive_info((const char *)image.data(), (LONG_PTR)image.size(), SOURCE_MEMORY, &info),
                  r.code);
        EXPECT_EQ(info, nullptr);
    }
    winlayer_reset_calls();
}

// A directory that really holds this many entries passes the check, but its
// record list would not fit in 32 bits: refused, never wrapped.
TEST_F(TolvaneTest, RecordListBeyond32BitsIsNoMemory) {
    const uint32_t count = (uint32_t)(0x100000000ull / plugin_list_record_size(test_wide()));
    Bytes image((size_t)count * 24 + 4);
    fpk_set_count(image, count);
    uint32_t offset = (uint32_t)image.size();
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t *e = &image[fpk_entry_pos(i)];
        for (int k = 0; k < 4; ++k) e[k] = (uint8_t)((offset + i) >> (8 * k));
        e[4] = 1;
        e[8] = 'a';
    }
    HLOCAL info = (HLOCAL)(uintptr_t)0x5A5A0;
    EXPECT_EQ(tolvane().get_archive_info((const char *)image.data(), (LONG_PTR)image.size(), SOURCE_MEMORY, &info),
              RESULT_NO_MEMORY);
    EXPECT_EQ(info, nullptr);
    // One entry fewer fits 32 bits but not a block: also no memory.
    fpk_set_count(image, count - 1);
    info = (HLOCAL)(uintptr_t)0x5A5A0;
    EXPECT_EQ(tolvane().get_archive_info((const char *)image.data(), (LONG_PTR)image.size(), SOURCE_MEMORY, &info),
              RESULT_NO_MEMORY);
    EXPECT_EQ(info, nullptr);
}
#endif

}  // namespace
