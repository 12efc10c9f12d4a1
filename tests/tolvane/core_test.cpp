// The plug-in's internals called directly: the directory check over bytes,
// the bounded directory reader and the output path rules.
#include <string.h>

#include <gtest/gtest.h>

#include "fpk_directory.h"
#include "fpk_format.h"
#include "safe_name.h"
#include "fpk_output.h"
#include "fpk_reference.h"
#include "fpk_writer.h"
#include "test_support.h"

namespace {

SourceStream memory_stream(const Bytes &image) {
    SourceStream s;
    source_open(&s, host_input_narrow((const char *)image.data()), (LONG_PTR)image.size(), SOURCE_MEMORY);
    return s;
}

TEST(FpkName, Rule) {
    struct Row {
        const char *bytes;  // 16 bytes
        int valid;
    } rows[] = {
        {"a\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 1},
        {"abcdefghijklmno\0", 1},
        {"abcdefghijklmnop", 0},
        {"\0bcdefghijklmnop", 0},
        {"ab\0\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 1},
        {"a b\0\0\0\0\0\0\0\0\0\0\0\0\0", 0},
        {"a\x7f\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 0},
        {"a\x80\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 0},
        {"!~\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 1},
        {"a\x1f\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 0},
    };
    for (const Row &r : rows) EXPECT_EQ(fpk_name_valid((const uint8_t *)r.bytes), r.valid) << r.bytes;
}

TEST(FpkCheck, LimitBoundsTheWalk) {
    Bytes image = make_fpk(make_members(10));
    fpk_set_size(image, 6, 0);
    for (uint32_t limit = 0; limit <= 12; ++limit) {
        SourceStream s = memory_stream(image);
        int expected = limit <= 6 ? 1 : 0;
        EXPECT_EQ(fpk_directory_probe(&s, image.data(), limit), expected) << limit;
        EXPECT_EQ(s.code, expected ? RESULT_OK : RESULT_UNKNOWN_FORMAT) << limit;
    }
    // The header check applies whatever the limit.
    fpk_set_size(image, 0, 0);
    SourceStream s = memory_stream(image);
    EXPECT_EQ(fpk_directory_probe(&s, image.data(), 0), 0);
}

TEST(FpkCheck, CountBoundaries) {
    Bytes image(28, 0);
    fpk_set_size(image, 0, 1);
    fpk_set_name(image, 0, "n");
    struct Row {
        uint32_t count;
        int valid;
    } rows[] = {{0, 0}, {1, 1}, {0xFFFFFFFF, 0}, {0x80000000u, 0}, {FPK_REFERENCE_COUNT_LIMIT, 1},
                {FPK_REFERENCE_COUNT_LIMIT + 1, 0}};
    for (const Row &r : rows) {
        fpk_set_count(image, r.count);
        fpk_set_offset(image, 0, r.count <= FPK_REFERENCE_COUNT_LIMIT ? r.count * 24 + 4 : 0x7FFFFFFF);
        EXPECT_EQ(fpk_header_valid(image.data()), r.valid) << r.count;
        if (r.valid) {
            fpk_set_offset(image, 0, r.count * 24 + 3);
            EXPECT_EQ(fpk_header_valid(image.data()), 0) << r.count;
        }
    }
}

struct ReadResult {
    int32_t code;
    uint32_t count;
    uint32_t capacity;
};

ReadResult read_directory(const Bytes &image) {
    SourceStream s = memory_stream(image);
    FpkDirectory dir = {};
    fpk_directory_read(&s, &dir);
    ReadResult r = {s.code, dir.count, dir.capacity};
    if (s.code == RESULT_OK) {
        std::vector<FpkListed> ref;
        EXPECT_TRUE(fpk_reference_read(image, 0, UINT64_MAX, &ref));
        EXPECT_EQ(memcmp(dir.bytes, image.data(), 4 + ref.size() * 24), 0);
    }
    fpk_directory_release(&dir);
    EXPECT_EQ(dir.handle, nullptr);
    EXPECT_EQ(winlayer_live_blocks(), 0);
    return r;
}

// The scratch directory grows with the entries that pass, not with the count.
TEST(FpkDirectoryRead, MemoryFollowsTheEntriesThatPass) {
    for (uint32_t n : {1u, 2u, 4095u, 4096u, 4097u, 10000u, 40000u}) {
        ReadResult r = read_directory(make_fpk(make_members(n)));
        EXPECT_EQ(r.code, RESULT_OK) << n;
        EXPECT_EQ(r.count, n);
        EXPECT_GE(r.capacity, n);
        EXPECT_LE(r.capacity, n < FPK_READ_STEP ? n : 2 * n) << n;
    }
    ReadResult r = read_directory(make_fpk_claiming_most(1024, 1));
    EXPECT_EQ(r.code, RESULT_UNKNOWN_FORMAT);
    EXPECT_LE(r.capacity, FPK_READ_STEP);
    // Broken late: the walk still stops there, at every step boundary.
    for (uint32_t broken : {4095u, 4096u, 4097u, 8191u, 8192u, 9999u}) {
        Bytes image = make_fpk(make_members(10000));
        fpk_set_offset(image, broken, fpk_get_offset(image, broken) + 1);
        EXPECT_EQ(read_directory(image).code, RESULT_UNKNOWN_FORMAT) << broken;
    }
}

TEST(FpkDirectoryRead, ScratchThatCannotBeHadIsNoMemory) {
    Bytes image = make_fpk(make_members(5000));
    for (uint32_t k = 1; k <= 2; ++k) {
        winlayer_reset_calls();
        winlayer_inject(WINLAYER_LOCAL_ALLOC, k, WINLAYER_FAULT_FAIL);
        EXPECT_EQ(read_directory(image).code, RESULT_NO_MEMORY) << k;
        winlayer_reset_calls();
        winlayer_inject(WINLAYER_LOCAL_LOCK, k, WINLAYER_FAULT_FAIL);
        EXPECT_EQ(read_directory(image).code, RESULT_NO_MEMORY) << k;
    }
    winlayer_reset_calls();
}

TEST(FpkOutput, NamesThatLeaveTheFolder) {
    const char *inside[] = {"a", "a.b", "..a", "a..", ".a", "d\\f", "d/f", "d\\.\\f", ".", "a\\.", "d\\..x",
                            "CONS", "xcon", "COM10", "LPT", "nul_", "d\\com.x"};
    const char *outside[] = {"..", "..\\a", "../a", "a\\..", "a/../b", "...", "a\\...\\b", "\\a", "/a",
                             "c:a", "a:b", "a\\b:c", "CON", "nul", "Aux.txt", "d\\prn", "COM1",
                             "lpt9.log", "con\\a"};
    for (const char *n : inside) EXPECT_EQ(safe_name_stays_inside(n), 1) << n;
    for (const char *n : outside) EXPECT_EQ(safe_name_stays_inside(n), 0) << n;
}

// The output path in units of either width: a wide folder of CJK characters
// counts one unit each, as an 8-bit folder of ASCII counts one byte each.
std::u16string output_path(int wide, const std::u16string &dest, const char *name, int *fits) {
    std::string narrow(dest.begin(), dest.end());
    HostInput d = wide ? host_input_wide(dest.c_str()) : host_input_narrow(narrow.c_str());
    FpkOutputPath path;
    memset(&path, 'X', sizeof path);
    HostInput out;
    *fits = fpk_output_path(d, name, &path, &out);
    EXPECT_EQ(out.wide, wide);
    std::u16string units;
    for (uint32_t i = 0; *fits && host_input_unit(out, i); ++i) units.push_back((char16_t)host_input_unit(out, i));
    return units;
}

TEST(FpkOutput, PathLimitInEitherWidth) {
    for (int wide = 0; wide < 2; ++wide) {
        const char16_t letter = wide ? u'\u56FE' : u'd';
        int fits = 0;
        EXPECT_EQ(output_path(wide, u"", "name", &fits), u"name");
        EXPECT_EQ(output_path(wide, u"C:\\OUT", "noname", &fits), u"C:\\OUT\\noname");
        EXPECT_EQ(output_path(wide, u"d\\", "n", &fits), u"d\\\\n");
        for (size_t dest_length = 240; dest_length <= 270; ++dest_length) {
            std::u16string dest(dest_length, letter);
            for (size_t name_length = 1; name_length <= 15; ++name_length) {
                std::string name(name_length, 'n');
                std::u16string path = output_path(wide, dest, name.c_str(), &fits);
                ASSERT_EQ(fits, dest_length + 1 + name_length <= 259) << dest_length << " " << name_length;
                if (fits) {
                    EXPECT_EQ(path, dest + u"\\" + std::u16string(name.begin(), name.end()));
                }
            }
        }
        output_path(wide, std::u16string(258, letter), "", &fits);
        EXPECT_EQ(fits, 1) << "259 with the separator";
        output_path(wide, std::u16string(259, letter), "", &fits);
        EXPECT_EQ(fits, 0);
    }
}

// Every failed write keeps the system's error number with the code.
TEST(FpkOutput, FailedWritesKeepTheSystemsError) {
    std::string dir = test_scratch_dir();
    const uint8_t data[64] = {1, 2, 3};
    struct Row {
        const char *folder, *name;
        WinlayerCall call;  // made to fail (or, for WriteFile, to write short)
        WinlayerFault fault;
        uint32_t error;
    } rows[] = {
        {"missing", "m", WINLAYER_CALL_KINDS, WINLAYER_FAULT_FAIL, ERROR_PATH_NOT_FOUND},
        {"", "m", WINLAYER_CREATE_FILE, WINLAYER_FAULT_FAIL, ERROR_ACCESS_DENIED},
        {"", "m", WINLAYER_WRITE_FILE, WINLAYER_FAULT_FAIL, ERROR_DISK_FULL},
        {"", "m", WINLAYER_WRITE_FILE, WINLAYER_FAULT_SHORT, ERROR_DISK_FULL},
        {"", "m", WINLAYER_SET_END_OF_FILE, WINLAYER_FAULT_FAIL, ERROR_ACCESS_DENIED},
        {"", "..\\m", WINLAYER_CALL_KINDS, WINLAYER_FAULT_FAIL, ERROR_INVALID_NAME},
        {"", "NUL", WINLAYER_CALL_KINDS, WINLAYER_FAULT_FAIL, ERROR_INVALID_NAME},
    };
    for (const Row &r : rows) {
        std::string folder = *r.folder ? test_path(dir, r.folder) : dir;
        SourceStream s = memory_stream(Bytes());
        winlayer_reset_calls();
        if (r.call != WINLAYER_CALL_KINDS) winlayer_inject(r.call, 1, r.fault);
        EXPECT_EQ(fpk_write_member(&s, host_input_narrow(folder.c_str()), r.name, data, sizeof data), 0) << r.name;
        EXPECT_EQ(s.code, RESULT_INTERNAL_ERROR) << r.name;
        EXPECT_EQ(s.os_error, r.error) << r.name << " " << r.call;
    }
    winlayer_reset_calls();
    SourceStream s = memory_stream(Bytes());
    std::string far(300, 'd');
    EXPECT_EQ(fpk_write_member(&s, host_input_narrow(far.c_str()), "m", data, sizeof data), 0);
    EXPECT_EQ(s.os_error, (uint32_t)ERROR_FILENAME_EXCED_RANGE);
}

}  // namespace
