// Every truncation of valid archives and a sweep of mutants: each call returns
// a code from the interface's set, and what succeeds agrees with an
// independent reading of the bytes. The cases alternate between the 8-bit
// exports and the wide ones.
#include <stdio.h>
#include <string.h>


#include "tolvane_suite.h"

namespace {

#ifdef _WIN32
constexpr uint32_t FULL_MUTANTS = 300;  // each Wine call is slower; the sweep stays short
#else
constexpr uint32_t FULL_MUTANTS = 3000;
#endif

// Checks every export at one width against the reference on one image, from
// memory and (when `path` is given) from a file holding the same bytes.
void check_image(int wide, const Bytes &image, const std::string &path, const std::string &what,
                 int *valid_count) {
    std::string label = what + (wide ? ", wide" : ", 8-bit");
    std::vector<FpkListed> ref;
    bool valid = fpk_reference_read(image, 0, UINT64_MAX, &ref);
    *valid_count += valid;
    std::vector<FpkListed> probe_ref;
    bool probe_valid = fpk_reference_read(image, 0, TEST_PROBE_ENTRIES, &probe_ref);
    ASSERT_EQ(probe_buffer(image, wide), probe_valid ? 1 : 0) << label;

    Listing l = list_memory(image, wide);
    ASSERT_TRUE(test_code_in_set(l.code)) << label << " code " << l.code;
    ASSERT_EQ(l.code, valid ? RESULT_OK : RESULT_UNKNOWN_FORMAT) << label;
    if (valid) {
        ASSERT_EQ(l.records.size(), ref.size()) << label;
        for (size_t i = 0; i < ref.size(); ++i) {
            ASSERT_EQ(l.records[i].position, ref[i].offset) << label;
            ASSERT_EQ(l.records[i].size, ref[i].size) << label;
            ASSERT_STREQ(l.records[i].file_name, ref[i].name.c_str()) << label;
        }
    }
    const char *sought = valid ? ref.back().name.c_str() : "m1";
    FileInfoRecord r;
    memset(&r, 0xCC, sizeof r);
    int32_t code = call_get_file_info(&tolvane_at(wide), (const char *)image.data(), (LONG_PTR)image.size(), sought,
                                   SOURCE_MEMORY, &r);
    ASSERT_TRUE(test_code_in_set(code)) << label;
    if (valid) {
        ASSERT_EQ(code, RESULT_OK) << label;
        size_t first = 0;
        while (ref[first].name != sought) ++first;
        ASSERT_EQ(r.position, ref[first].offset) << label;
    } else {
        ASSERT_EQ(code, RESULT_UNKNOWN_FORMAT) << label;
    }
    if (path.empty()) return;
    // A fresh file each time: rewriting one in place makes the file system flush it.
    remove(path.c_str());
    test_write_file(path, image);
    ASSERT_EQ(list_archive(path.c_str(), 0, SOURCE_FILE, wide).code, l.code) << label;
    // Extract the first and the last listed member. The mutants may claim up
    // to 2 GiB: a member the file holds is small, one it does not is refused
    // before its block.
    if (!valid) {
        Bytes got;
        ASSERT_EQ(get_to_memory(path.c_str(), 28 + 24, SOURCE_FILE, &got, nullptr, 0, wide), RESULT_UNKNOWN_FORMAT) << label;
        return;
    }
    for (const FpkListed *e : {&ref.front(), &ref.back()}) {
        if (e->offset > 0x7FFFFFFFu) continue;
        // The first entry at that position is the one extracted; a file that
        // ends inside it is damaged.
        size_t first = 0;
        while (ref[first].offset != e->offset) ++first;
        bool held = (uint64_t)e->offset + ref[first].size <= image.size();
        Bytes got;
        code = get_to_memory(path.c_str(), (LONG_PTR)e->offset, SOURCE_FILE, &got, nullptr, 0, wide);
        ASSERT_EQ(code, held ? RESULT_OK : RESULT_READ_ERROR) << label;
        if (held) {
            ASSERT_EQ(got, fpk_reference_member(image, e->offset, ref[first].size)) << label;
        }
    }
}

std::vector<Bytes> seed_archives() {
    return {
        make_fpk({{"a", {1, 2, 3}}}),
        make_fpk(make_members(6), 3),
        make_fpk({{"abcdefghijklmno", pattern_bytes(40, 1)}, {"dir\\x", {7}}, {"x", pattern_bytes(33, 2)}}),
    };
}

class Sweep : public TolvaneTest {};

TEST_F(Sweep, EveryTruncation) {
    std::string path = test_path(test_scratch_dir(), "cut.fpk");
    int valid = 0;
    // A shortened sweep takes every Nth length (N odd, so both widths still
    // come), and always the whole archive.
    size_t step = sweep_divisor() | 1;
    for (const Bytes &full : seed_archives()) {
        for (size_t length = 0;; length += step) {
            if (length > full.size()) length = full.size();
            Bytes image(full.begin(), full.begin() + length);
            // Odd lengths through the wide exports.
            check_image((int)(length % 2), image, path, "length " + std::to_string(length), &valid);
            if (HasFatalFailure() || length == full.size()) break;
        }
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(valid, 0);
}

TEST_F(Sweep, Mutants) {
    TestRandom rng{20260101};
    std::vector<Bytes> seeds = seed_archives();
    std::string path = test_path(test_scratch_dir(), "mutant.fpk");
    int valid = 0;
    const int mutants = (int)sweep_rounds(FULL_MUTANTS);
    for (int m = 0; m < mutants; ++m) {
        // Most damage to the count and the first six entries.
        Bytes image = mutate_bytes(seeds[(size_t)m % seeds.size()], 4 + 24 * 6, &rng);
        // Files only for every fourth mutant: writing them dominates the time.
        // The widths alternate among all mutants and among those with files.
        check_image((m + m / 4) % 2, image, m % 4 == 0 ? path : std::string(),
                    "mutant " + std::to_string(m), &valid);
        if (HasFatalFailure()) return;
    }
    // Both outcomes are exercised.
    EXPECT_GT(valid, mutants / 20);
    EXPECT_LT(valid, mutants - mutants / 20);
    printf("%d of %d mutants are valid archives\n", valid, mutants);
}

}  // namespace
