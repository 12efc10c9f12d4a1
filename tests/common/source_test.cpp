// The common source stream and result blocks, over real files and images.
#include <string.h>

#include <gtest/gtest.h>

#include "fpk_source.h"
#include "test_support.h"

namespace {

Bytes counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = (uint8_t)(i + 1);
    return b;
}

std::string counting_file(size_t n) {
    std::string path = test_path(test_scratch_dir(), "data.bin");
    test_write_file(path, counting(n));
    return path;
}

TEST(SourceMemory, ShortImageReadsZerosAndStopsAtTheEnd) {
    Bytes image = counting(5);
    SourceStream s;
    ASSERT_EQ(source_open(&s, host_input_narrow((const char *)image.data()), 5, SOURCE_MEMORY), 1);
    EXPECT_EQ(s.file, INVALID_HANDLE_VALUE);
    uint8_t buf[8];
    memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(source_read(&s, buf, 3), 1);
    EXPECT_EQ(source_read(&s, buf + 3, 5), 1);
    const uint8_t expected[8] = {1, 2, 3, 4, 5, 0, 0, 0};
    EXPECT_EQ(memcmp(buf, expected, 8), 0);
    EXPECT_EQ(s.cursor, s.end);
    EXPECT_EQ(s.code, RESULT_OK);
    EXPECT_EQ(source_close(&s), 1);
}

TEST(SourceMemory, SeekToExactlyTheEndFails) {
    Bytes image = counting(10);
    SourceStream s;
    source_open(&s, host_input_narrow((const char *)image.data()), 10, SOURCE_MEMORY);
    EXPECT_EQ(source_seek(&s, 9), 1);
    uint8_t b = 0;
    source_read(&s, &b, 1);
    EXPECT_EQ(b, 10);
    EXPECT_EQ(source_seek(&s, 10), 0);
    EXPECT_EQ(s.code, RESULT_MEMORY_ERROR);
    EXPECT_EQ(s.os_error, 0u);
    SourceStream t;
    source_open(&t, host_input_narrow((const char *)image.data()), 10, SOURCE_MEMORY);
    EXPECT_EQ(source_seek_absolute(&t, 0xFFFFFFFF), 0);
    EXPECT_EQ(t.code, RESULT_MEMORY_ERROR);
}

TEST(SourceMemory, ZeroLengthImage) {
    uint8_t image[1] = {7};
    for (LONG_PTR length : {(LONG_PTR)0, (LONG_PTR)-1}) {
        SourceStream s;
        ASSERT_EQ(source_open(&s, host_input_narrow((const char *)image), length, SOURCE_MEMORY), 1);
        uint8_t buf[4] = {1, 1, 1, 1};
        EXPECT_EQ(source_read(&s, buf, 4), 1);
        EXPECT_EQ(memcmp(buf, "\0\0\0\0", 4), 0);
        EXPECT_EQ(source_seek(&s, 0), 0);
        EXPECT_EQ(s.code, RESULT_MEMORY_ERROR);
    }
}

TEST(SourceFile, OpensAtTheOffsetAndSeeksFromIt) {
    std::string path = counting_file(100);
    SourceStream s;
    ASSERT_EQ(source_open(&s, host_input_narrow(path.c_str()), 10, SOURCE_FILE), 1);
    EXPECT_EQ(s.origin, 10u);
    EXPECT_EQ(s.borrowed, 0);
    uint8_t b[2];
    source_read(&s, b, 2);
    EXPECT_EQ(b[0], 11);
    EXPECT_EQ(source_seek(&s, 5), 1);
    source_read(&s, b, 1);
    EXPECT_EQ(b[0], 16);
    EXPECT_EQ(source_seek_absolute(&s, 5), 1);
    source_read(&s, b, 1);
    EXPECT_EQ(b[0], 6);
    EXPECT_EQ(source_close(&s), 1);
    EXPECT_EQ(s.file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(source_close(&s), 1) << "closing twice is safe";
}

TEST(SourceFile, MissingFileIsAReadErrorWithTheSystemsNumber) {
    SourceStream s;
    std::string path = test_path(test_scratch_dir(), "missing.fpk");
    EXPECT_EQ(source_open(&s, host_input_narrow(path.c_str()), 0, SOURCE_FILE), 0);
    EXPECT_EQ(s.code, RESULT_READ_ERROR);
    EXPECT_EQ(s.os_error, (uint32_t)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(source_close(&s), 1);
    EXPECT_EQ(s.code, RESULT_READ_ERROR) << "close leaves the code";
}

TEST(SourceFile, OffsetPastTheEndReadsZeros) {
    std::string path = counting_file(10);
    SourceStream s;
    ASSERT_EQ(source_open(&s, host_input_narrow(path.c_str()), 1000, SOURCE_FILE), 1);
    uint8_t buf[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(source_read(&s, buf, 6), 1);
    EXPECT_EQ(memcmp(buf, "\0\0\0\0\0\0", 6), 0);
    source_close(&s);
    ASSERT_EQ(source_open(&s, host_input_narrow(path.c_str()), 8, SOURCE_FILE), 1);
    EXPECT_EQ(source_read(&s, buf, 6), 1);
    const uint8_t tail[6] = {9, 10, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(buf, tail, 6), 0);
    source_close(&s);
}

// source_read_exact fails where the input ends, from a file and from an
// image, and source_holds, asked first, says so without reading.
TEST(SourceFile, ExactReadFailsWhereTheInputEnds) {
    std::string path = counting_file(10);
    Bytes image = counting(10);
    struct Row {
        uint32_t at, n;
        int whole;
    } rows[] = {{4, 6, 1}, {0, 11, 0}, {9, 2, 0}, {10, 1, 0}};
    for (const Row &r : rows) {
        SourceStream f, m;
        ASSERT_EQ(source_open(&f, host_input_narrow(path.c_str()), r.at, SOURCE_FILE), 1);
        ASSERT_EQ(source_open(&m, host_input_narrow((const char *)image.data() + r.at), 10 - r.at, SOURCE_MEMORY), 1);
        for (SourceStream *s : {&f, &m}) {
            uint8_t buf[16];
            EXPECT_EQ(source_holds(s, 1, r.n - 1), r.whole) << r.at << " " << r.n;
            EXPECT_EQ(s->code, r.whole ? RESULT_OK : RESULT_READ_ERROR);
            s->code = RESULT_OK;
            s->os_error = 0;
            // The file was measured at its end; back to where it was opened.
            if (s == &f) {
                ASSERT_EQ(source_seek(s, 0), 1);
            }
            EXPECT_EQ(source_read_exact(s, buf, r.n), r.whole) << r.at << " " << r.n;
            EXPECT_EQ(s->os_error, r.whole ? 0u : (uint32_t)ERROR_HANDLE_EOF);
            EXPECT_EQ(s->code, r.whole ? RESULT_OK : RESULT_READ_ERROR);
            source_close(s);
        }
    }
}

TEST(SourceFile, OffsetsFrom2GiBUpFail) {
    std::string path = counting_file(10);
    for (LONG_PTR offset : {(LONG_PTR)(int32_t)0x80000000u, (LONG_PTR)-1, (LONG_PTR)(int32_t)0xFFFFFFF0u}) {
        SourceStream s;
        EXPECT_EQ(source_open(&s, host_input_narrow(path.c_str()), offset, SOURCE_FILE), 0) << offset;
        EXPECT_EQ(s.code, RESULT_READ_ERROR);
        EXPECT_EQ(s.file, INVALID_HANDLE_VALUE);
    }
#if UINTPTR_MAX > 0xFFFFFFFFu
    SourceStream s;
    EXPECT_EQ(source_open(&s, host_input_narrow(path.c_str()), (LONG_PTR)0x80000000u, SOURCE_FILE), 0);
    EXPECT_EQ(s.code, RESULT_READ_ERROR);
#endif
    // A seek from the origin that reaches 2 GiB fails the same way.
    SourceStream s2;
    ASSERT_EQ(source_open(&s2, host_input_narrow(path.c_str()), 0x7FFFFFF0, SOURCE_FILE), 1);
    EXPECT_EQ(source_seek(&s2, 0x10), 0);
    EXPECT_EQ(s2.code, RESULT_READ_ERROR);
    source_close(&s2);
}

TEST(SourceProbe, HandleIsReadFromItsPositionAndRestored) {
    std::string path = counting_file(3000);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(SetFilePointer(h, 1500, nullptr, FILE_BEGIN), 1500u);
    SourceStream s;
    ASSERT_EQ(source_open_probe(&s, (void *)h), 1);
    EXPECT_EQ(s.borrowed, 1);
    EXPECT_EQ(s.origin, 1500u);
    uint8_t buf[PROBE_BUFFER_SIZE];
    EXPECT_EQ(source_read(&s, buf, sizeof buf), 1);
    EXPECT_EQ(buf[0], (uint8_t)1501);
    EXPECT_EQ(buf[1499], (uint8_t)3000);
    EXPECT_EQ(buf[1500], 0);
    EXPECT_EQ(source_close(&s), 1);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 1500u);
    EXPECT_TRUE(CloseHandle(h)) << "the lent handle stays open";
}

TEST(SourceProbe, ValuesBelow65536AreHandles) {
    SourceStream s;
    EXPECT_EQ(source_open_probe(&s, (void *)(uintptr_t)65535), 0);
    EXPECT_EQ(s.code, RESULT_READ_ERROR);
    EXPECT_NE(s.os_error, 0u);
    EXPECT_EQ(source_open_probe(&s, (void *)(uintptr_t)65536), 1);
    EXPECT_EQ(s.file, INVALID_HANDLE_VALUE);
    EXPECT_EQ((uintptr_t)s.base, 65536u);
    EXPECT_EQ((uintptr_t)(s.end - s.base), PROBE_BUFFER_SIZE);
}

TEST(Blocks, ZeroSizeCannotBeLockedAndHugeCannotBeHad) {
    struct Row {
        uint32_t size;
        int32_t code;
    } rows[] = {{0, RESULT_MEMORY_ERROR}, {0x80000000u, RESULT_NO_MEMORY}, {0xFFFFFFFFu, RESULT_NO_MEMORY}};
    int64_t live = live_blocks();
    for (const Row &r : rows) {
        SourceStream s;
        source_open(&s, host_input_narrow(""), 0, SOURCE_MEMORY);
        HLOCAL h = (HLOCAL)(uintptr_t)0x1230;
        void *p = (void *)(uintptr_t)0x4560;
        EXPECT_EQ(block_alloc(&s, &h, &p, r.size), 0) << r.size;
        EXPECT_EQ(s.code, r.code) << r.size;
        EXPECT_NE(s.os_error, 0u);
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(live_blocks(), live);
}

TEST(Blocks, AllocReleaseAndHandOver) {
    int64_t live = live_blocks();
    SourceStream s;
    source_open(&s, host_input_narrow(""), 0, SOURCE_MEMORY);
    HLOCAL h = nullptr;
    void *p = nullptr;
    ASSERT_EQ(block_alloc(&s, &h, &p, 100), 1);
    ASSERT_NE(p, nullptr);
    memset(p, 0xAB, 100);
    EXPECT_EQ(LocalSize(h), 100u);
    block_release(&h);
    EXPECT_EQ(h, nullptr);
    block_release(&h);  // releasing nothing does nothing
    ASSERT_EQ(block_alloc(&s, &h, &p, 3), 1);
    memcpy(p, "abc", 3);
    LocalUnlock(h);
    EXPECT_EQ(test_take_block(h), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(live_blocks(), live);
}

}  // namespace
