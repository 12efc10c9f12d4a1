// GetFile: members to memory and to files, progress and cancellation, members
// that a damaged archive does not hold whole, and the refusals that keep a
// crafted archive inside the host's folder.
#include <string.h>

#include <filesystem>

#include "tolvane_suite.h"

namespace {

typedef std::pair<int32_t, int32_t> Report;

struct ProgressLog {
    std::vector<Report> reports;
    std::vector<uint32_t> reads;  // natively: ReadFile calls made when each report came
    int cancel_at = -1;           // report index answered with non-zero
    Bytes *image = nullptr;       // memory source: set to the report's number + 1 at each report
};

int32_t WINAPI log_progress(int32_t done, int32_t total, LONG_PTR user) {
    ProgressLog *log = (ProgressLog *)user;
    int index = (int)log->reports.size();
    log->reports.push_back({done, total});
#ifndef _WIN32
    log->reads.push_back(winlayer_call_count(WINLAYER_READ_FILE));
#endif
    if (log->image) memset(log->image->data(), index + 1, log->image->size());
    return index == log->cancel_at ? 1 : 0;
}

void reset_reads() {
#ifndef _WIN32
    winlayer_reset_calls();
#endif
}

uint32_t reads_so_far() {
#ifndef _WIN32
    return winlayer_call_count(WINLAYER_READ_FILE);
#else
    return 0;
#endif
}

int32_t get_to_folder(const std::string &archive, LONG_PTR len, const std::string &dest, uint32_t flag = 0,
                      ProgressCallback progress = nullptr, LONG_PTR user = 0) {
    std::vector<char> d(dest.begin(), dest.end());
    d.push_back('\0');
    return call_get_file(&tolvane(), archive.c_str(), len, d.data(), flag | DEST_FILE, progress, user);
}

std::vector<std::string> folder_contents(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

struct Archive {
    std::string dir;
    std::string path;
    Bytes image;
    std::vector<FpkListed> entries;
};

Archive write_archive(const std::vector<FpkMember> &members, uint32_t gap = 0) {
    Archive a;
    a.dir = test_scratch_dir();
    a.path = test_path(a.dir, "a.fpk");
    a.image = make_fpk(members, gap);
    test_write_file(a.path, a.image);
    a.entries = reference_entries(a.image);
    return a;
}

TEST_F(TolvaneTest, EveryMemberToMemoryAndToAFile) {
    Archive a = write_archive(make_members(12), 5);
    std::string out = test_scratch_dir();
    for (const FpkListed &e : a.entries) {
        Bytes want = fpk_reference_member(a.image, e.offset, e.size);
        Bytes got;
        EXPECT_EQ(get_to_memory(a.path.c_str(), e.offset, SOURCE_FILE, &got), RESULT_OK) << e.name;
        EXPECT_EQ(got, want) << e.name;
        EXPECT_EQ(get_to_folder(a.path, e.offset, out), RESULT_OK) << e.name;
        EXPECT_EQ(test_read_file(test_path(out, e.name)), want) << e.name;
    }
    EXPECT_EQ(folder_contents(out).size(), a.entries.size());
}

TEST_F(TolvaneTest, PositionSelectsTheMember) {
    Archive a = write_archive(make_members(5));
    Bytes got;
    EXPECT_EQ(get_to_memory(a.path.c_str(), a.entries[2].offset, SOURCE_FILE, &got), RESULT_OK);
    EXPECT_EQ(got, fpk_reference_member(a.image, a.entries[2].offset, a.entries[2].size));
    const LONG_PTR misses[] = {0, 1, (LONG_PTR)a.entries[2].offset + 1, (LONG_PTR)a.entries[4].offset + 1000};
    for (LONG_PTR len : misses) EXPECT_EQ(get_to_memory(a.path.c_str(), len, SOURCE_FILE, &got), RESULT_READ_ERROR) << len;
    EXPECT_EQ(get_to_memory(a.path.c_str(), -1, SOURCE_FILE, &got), RESULT_READ_ERROR);
    EXPECT_EQ(get_to_memory(test_path(a.dir, "missing").c_str(), 0, SOURCE_FILE, &got), RESULT_READ_ERROR);
}

// A file that ends inside a member is damaged: GetFile answers
// RESULT_READ_ERROR before the member's block is had, so before any report or
// read of it, delivers nothing and leaves a file of the member's name as it
// was. A claim of nearly 2 GiB costs no more. The archive is still listed and
// the whole member before it extracted.
TEST_F(TolvaneTest, MemberCutShortIsAReadError) {
    struct Row {
        uint32_t size, held;  // the member's size in the directory, its bytes in the file
    } rows[] = {{100, 0}, {100, 50}, {100, 99}, {5, 0}, {5, 2}, {5, 4}, {0x7FFFFF00, 20}};
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.held) + " of " + std::to_string(row.size) + " bytes");
        Bytes image = make_fpk({{"lead", pattern_bytes(7, 1)}, {"cut.bin", pattern_bytes(row.held, 2)}});
        fpk_set_size(image, 1, row.size);
        uint32_t at = fpk_get_offset(image, 1);
        std::string path = test_path(test_scratch_dir(), "cut.fpk");
        test_write_file(path, image);
        reset_reads();
        Listing l = list_archive(path.c_str(), 0, SOURCE_FILE);
        uint32_t directory_reads = reads_so_far();
        ASSERT_EQ(l.code, RESULT_OK);
        EXPECT_EQ(l.records[1].size, row.size);
        Bytes got;
        EXPECT_EQ(get_to_memory(path.c_str(), fpk_get_offset(image, 0), SOURCE_FILE, &got), RESULT_OK);
        EXPECT_EQ(got, pattern_bytes(7, 1));
        for (int callback = 0; callback < 2; ++callback) {
            ProgressCallback progress = callback ? log_progress : nullptr;
            ProgressLog log, to_file, to_existing;
            reset_reads();
            EXPECT_EQ(get_to_memory(path.c_str(), at, SOURCE_FILE, &got, progress, (LONG_PTR)&log), RESULT_READ_ERROR);
            EXPECT_TRUE(log.reports.empty()) << callback;
#ifndef _WIN32
            // The directory read, and no byte of the member; no block but the scratch directory.
            EXPECT_EQ(reads_so_far(), directory_reads) << callback;
            EXPECT_EQ(winlayer_call_count(WINLAYER_LOCAL_ALLOC), 1u) << callback;
#endif
            (void)directory_reads;
            std::string out = test_scratch_dir(), kept = test_scratch_dir();
            test_write_file(test_path(kept, "cut.bin"), Bytes(1000, 0xEE));
            EXPECT_EQ(get_to_folder(path, at, out, 0, progress, (LONG_PTR)&to_file), RESULT_READ_ERROR);
            EXPECT_EQ(get_to_folder(path, at, kept, 0, progress, (LONG_PTR)&to_existing), RESULT_READ_ERROR);
            EXPECT_TRUE(to_file.reports.empty());
            EXPECT_TRUE(to_existing.reports.empty());
            EXPECT_TRUE(folder_contents(out).empty()) << callback;
            EXPECT_EQ(folder_contents(kept), std::vector<std::string>{"cut.bin"});
            EXPECT_EQ(test_read_file(test_path(kept, "cut.bin")), Bytes(1000, 0xEE)) << callback;
        }
    }
}

TEST_F(TolvaneTest, PositionFrom2GiBUpIsListedButCannotBeReached) {
    Bytes image = make_fpk({{"big", {1}}, {"far", {2}}});
    fpk_set_size(image, 0, 0x7FFFFFF0);
    fpk_set_offset(image, 1, 4 + 48 + 0x7FFFFFF0u);
    std::string path = test_path(test_scratch_dir(), "far.fpk");
    test_write_file(path, image);
    Listing l = list_archive(path.c_str(), 0, SOURCE_FILE);
    ASSERT_EQ(l.code, RESULT_OK);
    ASSERT_EQ(l.records.size(), 2u);
    EXPECT_EQ(l.records[1].position, 4 + 48 + 0x7FFFFFF0u);
    Bytes got;
    EXPECT_EQ(get_to_memory(path.c_str(), (LONG_PTR)(int32_t)l.records[1].position, SOURCE_FILE, &got),
              RESULT_READ_ERROR);
    EXPECT_EQ(get_to_memory(path.c_str(), (LONG_PTR)l.records[1].position, SOURCE_FILE, &got), RESULT_READ_ERROR);
}

TEST_F(TolvaneTest, BadDestinationKindIsRefusedBeforeOpening) {
    Archive a = write_archive(make_members(2));
    HLOCAL member = (HLOCAL)(uintptr_t)0x7A7A0;
    for (uint32_t kind : {0x200u, 0x300u, 0x400u, 0x700u}) {
        reset_reads();
        EXPECT_EQ(call_get_file(&tolvane(), a.path.c_str(), a.entries[0].offset, (char *)&member, kind, nullptr, 0),
                  RESULT_INTERNAL_ERROR);
        // Even a file that does not exist is not looked at.
        EXPECT_EQ(call_get_file(&tolvane(), test_path(a.dir, "missing").c_str(), 0, (char *)&member, kind | SOURCE_MEMORY,
                                     nullptr, 0),
                  RESULT_INTERNAL_ERROR);
#ifndef _WIN32
        EXPECT_EQ(winlayer_call_count(WINLAYER_CREATE_FILE), 0u);
#endif
    }
    EXPECT_EQ(member, (HLOCAL)(uintptr_t)0x7A7A0);
    // No variable to receive a member in memory: refused the same way.
    reset_reads();
    EXPECT_EQ(call_get_file(&tolvane(), a.path.c_str(), a.entries[0].offset, nullptr, DEST_MEMORY, nullptr, 0),
              RESULT_INTERNAL_ERROR);
#ifndef _WIN32
    EXPECT_EQ(winlayer_call_count(WINLAYER_CREATE_FILE), 0u);
#endif
}

TEST_F(TolvaneTest, ProgressOf100BytesIn32StepsAndARemainder) {
    Archive a = write_archive({{"lead", {9}}, {"hundred", pattern_bytes(100, 7)}});
    ProgressLog log;
    Bytes got;
    reset_reads();
    Listing l = list_archive(a.path.c_str(), 0, SOURCE_FILE);
    uint32_t directory_reads = reads_so_far();
    reset_reads();
    ASSERT_EQ(get_to_memory(a.path.c_str(), a.entries[1].offset, SOURCE_FILE, &got, log_progress, (LONG_PTR)&log),
              RESULT_OK);
    EXPECT_EQ(got, pattern_bytes(100, 7));
    EXPECT_EQ(log.reports, fpk_reference_reports(100));
#ifndef _WIN32
    // One 3-byte read after each step's report, the 4-byte remainder before (32,32).
    ASSERT_EQ(log.reads.size(), 34u);
    EXPECT_EQ(log.reads[0], directory_reads);
    for (size_t i = 1; i < 32; ++i) EXPECT_EQ(log.reads[i] - log.reads[i - 1], 1u) << i;
    EXPECT_EQ(log.reads[32] - log.reads[31], 2u);
    EXPECT_EQ(log.reads[33], log.reads[32]);
    EXPECT_EQ(reads_so_far(), log.reads[33]);
#endif
    (void)l;
    (void)directory_reads;
}

TEST_F(TolvaneTest, ProgressReadsSeenThroughAMemorySource) {
    // The image is rewritten at each report, so each delivered byte tells
    // after which report it was read.
    for (uint32_t size : {100u, 5u, 31u, 32u, 64u, 65u}) {
        Bytes image(size, 0);
        ProgressLog log;
        log.image = &image;
        Bytes got;
        ASSERT_EQ(get_to_memory((const char *)image.data(), (LONG_PTR)image.size(), SOURCE_MEMORY, &got,
                                log_progress, (LONG_PTR)&log),
                  RESULT_OK);
        EXPECT_EQ(log.reports, fpk_reference_reports(size)) << size;
        uint32_t chunk = size / 32 ? size / 32 : 1;
        uint32_t steps = size / 32 ? 32 : size;
        Bytes want(size);
        for (uint32_t j = 0; j < size; ++j) want[j] = (uint8_t)(j < steps * chunk ? j / chunk + 1 : steps);
        EXPECT_EQ(got, want) << size;
    }
}

TEST_F(TolvaneTest, ProgressOf5BytesIn5Steps) {
    Archive a = write_archive({{"five", {1, 2, 3, 4, 5}}});
    ProgressLog log;
    Bytes got;
    reset_reads();
    ASSERT_EQ(get_to_memory(a.path.c_str(), a.entries[0].offset, SOURCE_FILE, &got, log_progress, (LONG_PTR)&log),
              RESULT_OK);
    EXPECT_EQ(got, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(log.reports, fpk_reference_reports(5));
#ifndef _WIN32
    ASSERT_EQ(log.reads.size(), 7u);
    for (size_t i = 1; i <= 5; ++i) EXPECT_EQ(log.reads[i] - log.reads[i - 1], 1u) << i;
    EXPECT_EQ(log.reads[6], log.reads[5]) << "no remainder read";
#endif
}

TEST_F(TolvaneTest, WithoutACallbackTheMemberIsOneRead) {
    Archive a = write_archive({{"lead", {9}}, {"hundred", pattern_bytes(100, 7)}});
    reset_reads();
    ASSERT_EQ(list_archive(a.path.c_str(), 0, SOURCE_FILE).code, RESULT_OK);
    uint32_t directory_reads = reads_so_far();
    reset_reads();
    Bytes got;
    ASSERT_EQ(get_to_memory(a.path.c_str(), a.entries[1].offset, SOURCE_FILE, &got), RESULT_OK);
#ifndef _WIN32
    EXPECT_EQ(reads_so_far(), directory_reads + 1);
#endif
    (void)directory_reads;
}

TEST_F(TolvaneTest, CancellingAtAnyReportWritesNothing) {
    for (uint32_t size : {100u, 5u}) {
        Archive a = write_archive({{"member", pattern_bytes(size, 3)}});
        size_t reports = fpk_reference_reports(size).size();
        for (size_t k = 0; k < reports; ++k) {
            ProgressLog log;
            log.cancel_at = (int)k;
            Bytes got;
            EXPECT_EQ(get_to_memory(a.path.c_str(), a.entries[0].offset, SOURCE_FILE, &got, log_progress,
                                    (LONG_PTR)&log),
                      RESULT_CANCELLED)
                << size << " at " << k;
            EXPECT_EQ(log.reports.size(), k + 1) << "no report after the cancelling one";
            ProgressLog to_file;
            to_file.cancel_at = (int)k;
            std::string out = test_scratch_dir();
            EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, out, 0, log_progress, (LONG_PTR)&to_file),
                      RESULT_CANCELLED);
            EXPECT_TRUE(folder_contents(out).empty()) << size << " at " << k;
        }
    }
}

TEST_F(TolvaneTest, MemorySourceLengths) {
    Bytes image = pattern_bytes(50, 1);
    Bytes got;
    EXPECT_EQ(get_to_memory((const char *)image.data(), 50, SOURCE_MEMORY, &got), RESULT_OK);
    EXPECT_EQ(got, image);
    // A zero-length moveable block cannot be locked.
    EXPECT_EQ(get_to_memory((const char *)image.data(), 0, SOURCE_MEMORY, &got), RESULT_MEMORY_ERROR);
    EXPECT_EQ(get_to_memory((const char *)image.data(), -1, SOURCE_MEMORY, &got), RESULT_NO_MEMORY);
    EXPECT_EQ(get_to_memory((const char *)image.data(), INT32_MIN, SOURCE_MEMORY, &got), RESULT_NO_MEMORY);
    std::string out = test_scratch_dir();
    EXPECT_EQ(call_get_file(&tolvane(), (const char *)image.data(), 0, (char *)out.c_str(), SOURCE_MEMORY, nullptr, 0),
              RESULT_MEMORY_ERROR);
    // An image at address 0 that claims bytes is a host's mistake, refused;
    // of no bytes it is an empty image, as ever.
    EXPECT_EQ(get_to_memory(nullptr, 50, SOURCE_MEMORY, &got), RESULT_INTERNAL_ERROR);
    EXPECT_EQ(get_to_memory(nullptr, -1, SOURCE_MEMORY, &got), RESULT_INTERNAL_ERROR);
    EXPECT_EQ(get_to_memory(nullptr, 0, SOURCE_MEMORY, &got), RESULT_MEMORY_ERROR);
    EXPECT_EQ(call_get_file(&tolvane(), nullptr, 50, (char *)out.c_str(), SOURCE_MEMORY, nullptr, 0), RESULT_INTERNAL_ERROR);
    EXPECT_TRUE(folder_contents(out).empty());
}

TEST_F(TolvaneTest, MemorySourceToAFolderWritesNoname) {
    Bytes image = pattern_bytes(77, 2);
    std::string out = test_scratch_dir();
    std::string dest = out;
    EXPECT_EQ(call_get_file(&tolvane(), (const char *)image.data(), 77, (char *)dest.c_str(), SOURCE_MEMORY | DEST_FILE,
                                 nullptr, 0),
              RESULT_OK);
    EXPECT_EQ(test_read_file(test_path(out, "noname")), image);
    EXPECT_EQ(folder_contents(out).size(), 1u);
}

TEST_F(TolvaneTest, EmptyDestIsTheCurrentFolder) {
    Archive a = write_archive({{"here.txt", {7, 7}}});
    std::string out = test_scratch_dir();
    std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(out);
    int32_t code = get_to_folder(a.path, a.entries[0].offset, "");
    std::filesystem::current_path(before);
    EXPECT_EQ(code, RESULT_OK);
    EXPECT_EQ(test_read_file(test_path(out, "here.txt")), (Bytes{7, 7}));
}

TEST_F(TolvaneTest, SeparatorIsAddedEvenAfterOne) {
    Archive a = write_archive({{"f", {1}}});
    std::string out = test_scratch_dir();
    EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, out + "\\"), RESULT_OK);
    EXPECT_EQ(test_read_file(test_path(out, "f")), Bytes{1});
}

TEST_F(TolvaneTest, NamesWithSeparatorsNeedTheSubFolder) {
    Archive a = write_archive({{"sub\\one", {1}}, {"sub/two", {2}}, {"none\\x", {3}}});
    std::string out = test_scratch_dir();
    std::filesystem::create_directory(test_path(out, "sub"));
    EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, out), RESULT_OK);
    EXPECT_EQ(get_to_folder(a.path, a.entries[1].offset, out), RESULT_OK);
    EXPECT_EQ(test_read_file(test_path(test_path(out, "sub"), "one")), Bytes{1});
    EXPECT_EQ(test_read_file(test_path(test_path(out, "sub"), "two")), Bytes{2});
    // No folder is created for a member.
    EXPECT_EQ(get_to_folder(a.path, a.entries[2].offset, out), RESULT_INTERNAL_ERROR);
    EXPECT_FALSE(test_file_exists(test_path(out, "none")));
    EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, test_path(out, "missing")), RESULT_INTERNAL_ERROR);
}

struct EscapeCase {
    const char *name;
    int32_t code;
};

class NameEscape : public TolvaneTest, public testing::WithParamInterface<EscapeCase> {};

// A crafted name must not write outside the folder the host chose.
TEST_P(NameEscape, StaysInsideDest) {
    const EscapeCase &c = GetParam();
    Archive a = write_archive({{c.name, {5, 6}}});
    std::string parent = test_scratch_dir();
    std::string out = test_path(parent, "out");
    std::filesystem::create_directory(out);
    std::filesystem::create_directory(test_path(out, "d"));
    EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, out), c.code) << c.name;
    // Listing and extraction to memory are not affected.
    Bytes got;
    EXPECT_EQ(get_to_memory(a.path.c_str(), a.entries[0].offset, SOURCE_FILE, &got), RESULT_OK);
    Listing l = list_archive(a.path.c_str(), 0, SOURCE_FILE);
    ASSERT_EQ(l.code, RESULT_OK);
    EXPECT_STREQ(l.records[0].file_name, c.name);
    std::vector<std::string> outside = folder_contents(parent);
    EXPECT_EQ(outside, std::vector<std::string>{"out"}) << c.name;
    if (c.code != RESULT_OK) {
        EXPECT_EQ(folder_contents(out), std::vector<std::string>{"d"}) << c.name;
        EXPECT_TRUE(folder_contents(test_path(out, "d")).empty()) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tolvane, NameEscape,
    testing::Values(EscapeCase{"..", RESULT_INTERNAL_ERROR}, EscapeCase{"..\\x", RESULT_INTERNAL_ERROR},
                    EscapeCase{"../x", RESULT_INTERNAL_ERROR}, EscapeCase{"d\\..\\..\\x", RESULT_INTERNAL_ERROR},
                    EscapeCase{"d/../../x", RESULT_INTERNAL_ERROR}, EscapeCase{"d\\..", RESULT_INTERNAL_ERROR},
                    EscapeCase{"...\\x", RESULT_INTERNAL_ERROR}, EscapeCase{"\\x", RESULT_INTERNAL_ERROR},
                    EscapeCase{"/x", RESULT_INTERNAL_ERROR}, EscapeCase{"\\\\srv\\x", RESULT_INTERNAL_ERROR},
                    EscapeCase{"C:x", RESULT_INTERNAL_ERROR}, EscapeCase{"C:\\x", RESULT_INTERNAL_ERROR},
                    EscapeCase{"x:stream", RESULT_INTERNAL_ERROR}, EscapeCase{"NUL", RESULT_INTERNAL_ERROR},
                    EscapeCase{"d\\con.txt", RESULT_INTERNAL_ERROR}, EscapeCase{"..x", RESULT_OK},
                    EscapeCase{"x..", RESULT_OK}, EscapeCase{".x", RESULT_OK}, EscapeCase{"d\\..x", RESULT_OK},
                    EscapeCase{"d/.x", RESULT_OK}, EscapeCase{"a..b", RESULT_OK}));

TEST_F(TolvaneTest, ExistingLongerFileIsCutToTheMember) {
    Archive a = write_archive({{"short.bin", {1, 2, 3}}});
    std::string out = test_scratch_dir();
    test_write_file(test_path(out, "short.bin"), Bytes(1000, 0xEE));
    EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, out), RESULT_OK);
    EXPECT_EQ(test_read_file(test_path(out, "short.bin")), (Bytes{1, 2, 3}));
}

TEST_F(TolvaneTest, OutputPathOf259CharactersFitsAnd260DoNot) {
    Archive a = write_archive({{"abcdefghij", {4}}});
    // A sub-folder named to make the padding even, then "\." components that
    // lengthen the path without changing the folder.
    std::string out = test_path(test_scratch_dir(), "p");
    if ((259 - 11 - out.size()) % 2) out += "q";
    std::filesystem::create_directories(out);
    std::string dest = out;
    while (dest.size() < 259 - 11) dest += "\\.";
    ASSERT_EQ(dest.size() + 1 + 10, 259u);
    EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, dest), RESULT_OK);
    EXPECT_EQ(test_read_file(test_path(out, "abcdefghij")), Bytes{4});
    std::filesystem::remove(test_path(out, "abcdefghij"));
    for (const std::string &longer : {dest + "\\", dest + "\\.", dest + std::string(300, '.'), std::string(5000, 'x')}) {
        EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, longer), RESULT_INTERNAL_ERROR) << longer.size();
    }
    EXPECT_TRUE(folder_contents(out).empty());
}

TEST_F(TolvaneTest, OnlySuccessTouchesTheHostVariable) {
    Archive a = write_archive(make_members(3));
    Bytes bad = a.image;
    fpk_set_size(bad, 2, 0);
    std::string bad_path = test_path(a.dir, "bad.fpk");
    test_write_file(bad_path, bad);
    Bytes got;
    // get_to_memory checks the variable is untouched on every failure.
    EXPECT_EQ(get_to_memory(bad_path.c_str(), a.entries[0].offset, SOURCE_FILE, &got), RESULT_UNKNOWN_FORMAT);
    EXPECT_EQ(get_to_memory(a.path.c_str(), 3, SOURCE_FILE, &got), RESULT_READ_ERROR);
    Archive hundred = write_archive({{"h", pattern_bytes(100, 1)}});
    ProgressLog log;
    log.cancel_at = 33;
    EXPECT_EQ(get_to_memory(hundred.path.c_str(), hundred.entries[0].offset, SOURCE_FILE, &got, log_progress,
                            (LONG_PTR)&log),
              RESULT_CANCELLED);
    EXPECT_EQ(log.reports.size(), 34u);
}

#ifndef _WIN32
TEST_F(TolvaneTest, ShortWriteIsAFailure) {
    Archive a = write_archive({{"w.bin", pattern_bytes(64, 1)}});
    std::string out = test_scratch_dir();
    winlayer_reset_calls();
    winlayer_inject(WINLAYER_WRITE_FILE, 1, WINLAYER_FAULT_SHORT);
    EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, out), RESULT_INTERNAL_ERROR);
    winlayer_reset_calls();
    winlayer_inject(WINLAYER_WRITE_FILE, 1, WINLAYER_FAULT_FAIL);
    EXPECT_EQ(get_to_folder(a.path, a.entries[0].offset, out), RESULT_INTERNAL_ERROR);
    winlayer_reset_calls();
}
#endif

}  // namespace

namespace {

// Names no 8-bit code page holds: the wide exports list, look up and extract
// an archive whose folder and file name need UTF-16, into such a folder; the
// 8-bit exports, given the code page's lossy form of the same names, fail
// with their missing-file codes and write nothing.
TEST_F(TolvaneTest, NamesNoCodePageHoldsNeedTheWideExports) {
    LoadedPlugin p = test_load_tolvane();
    ASSERT_NE(p.get_file_w, nullptr);
    std::u16string dir = test_unicode_dir();
    std::u16string archive = test_path_w(dir, u"\u6863\u6848.fpk");
    Bytes image = make_fpk({{"first.txt", {1, 2, 3}}, {"second.bin", Bytes(40, 7)}});
    test_write_file_w(archive, image);
    std::u16string out = test_path_w(dir, u"\u51FA\u529B \U0001F600");
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::path(out)));

    HLOCAL info = nullptr;
    ASSERT_EQ(p.get_archive_info_w(archive.c_str(), 0, SOURCE_FILE, &info), RESULT_OK);
    EXPECT_EQ(test_take_block(info).size(), 3 * sizeof(FileInfoRecordW));
    FileInfoRecordW r;
    ASSERT_EQ(p.get_file_info_w(archive.c_str(), 0, u"SECOND.BIN", MATCH_IGNORE_CASE, &r), RESULT_OK);
    EXPECT_EQ(std::u16string(r.file_name), u"second.bin");
    ASSERT_EQ(p.get_file_w(archive.c_str(), (LONG_PTR)r.position, &out[0], DEST_FILE, nullptr, 0), RESULT_OK);
    EXPECT_EQ(test_read_file_w(test_path_w(out, u"second.bin")), Bytes(40, 7));

    std::string lossy_archive = test_lossy_name(archive), lossy_out = test_lossy_name(out);
    ASSERT_NE(lossy_archive.find('?'), std::string::npos) << "the code page holds the names";
    std::vector<std::u16string> before = test_list_dir_w(out);
    EXPECT_EQ(p.get_archive_info(lossy_archive.c_str(), 0, SOURCE_FILE, &info), RESULT_READ_ERROR);
    FileInfoRecord narrow;
    EXPECT_EQ(p.get_file_info(lossy_archive.c_str(), 0, "first.txt", 0, &narrow), RESULT_READ_ERROR);
    EXPECT_EQ(p.get_file(lossy_archive.c_str(), (LONG_PTR)r.position, &lossy_out[0], DEST_FILE, nullptr, 0),
              RESULT_READ_ERROR);
    // The archive is found, the folder is not.
    std::string plain = test_path(test_scratch_dir(), "a.fpk");
    test_write_file(plain, image);
    EXPECT_EQ(p.get_file(plain.c_str(), (LONG_PTR)r.position, &lossy_out[0], DEST_FILE, nullptr, 0),
              RESULT_INTERNAL_ERROR);
    EXPECT_EQ(test_list_dir_w(out), before);
    plugin_unload(&p);
}

}  // namespace
