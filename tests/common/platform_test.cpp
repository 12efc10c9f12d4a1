// The Windows behaviours the plug-ins rely on. Under Wine these are Wine's
// answers; the native Win32 layer must give the same ones.
#include <string.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "spi.h"
#include "test_support.h"

namespace {

HANDLE open_read(const std::string &path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(Platform, ReadAtTheEndSucceedsShort) {
    std::string path = test_path(test_scratch_dir(), "five");
    test_write_file(path, Bytes{1, 2, 3, 4, 5});
    HANDLE h = open_read(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t buf[16];
    DWORD got = 99;
    EXPECT_TRUE(ReadFile(h, buf, 3, &got, nullptr));
    EXPECT_EQ(got, 3u);
    EXPECT_TRUE(ReadFile(h, buf, 16, &got, nullptr));
    EXPECT_EQ(got, 2u);
    EXPECT_TRUE(ReadFile(h, buf, 16, &got, nullptr));
    EXPECT_EQ(got, 0u);
    // Positioning past the end is allowed; reading there gives nothing.
    EXPECT_EQ(SetFilePointer(h, 1000, nullptr, FILE_BEGIN), 1000u);
    EXPECT_TRUE(ReadFile(h, buf, 16, &got, nullptr));
    EXPECT_EQ(got, 0u);
    CloseHandle(h);
}

TEST(Platform, NegativeDistancesFailWithAllBitsSet) {
    std::string path = test_path(test_scratch_dir(), "ten");
    test_write_file(path, Bytes(10, 1));
    HANDLE h = open_read(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(h, (LONG)0x80000000u, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 4u) << "a failed move leaves the position";
    EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_CURRENT), 0u);
    CloseHandle(h);
    EXPECT_EQ(SetFilePointer((HANDLE)(uintptr_t)65535, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST(Platform, ErrorNumbersOfFailedOpens) {
    std::string dir = test_scratch_dir();
    EXPECT_EQ(open_read(test_path(dir, "missing")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(open_read(test_path(test_path(dir, "nodir"), "x")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    // A folder cannot be opened for writing as a file.
    EXPECT_EQ(CreateFileA(dir.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST(Platform, OpenAlwaysKeepsTheFileAndSetEndOfFileCutsIt) {
    std::string path = test_path(test_scratch_dir(), "out");
    test_write_file(path, Bytes(10, 0xEE));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    CloseHandle(h);
    Bytes kept = {'a', 'b', 'c'};
    kept.resize(10, 0xEE);
    EXPECT_EQ(test_read_file(path), kept);
    h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteFile(h, "xy", 2, &written, nullptr));
    EXPECT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    EXPECT_EQ(test_read_file(path), (Bytes{'x', 'y'}));
}

TEST(Platform, MoveableBlocks) {
    // A zero-size moveable block exists but has no memory to lock.
    HLOCAL empty = LocalAlloc(LMEM_MOVEABLE, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(LocalLock(empty), nullptr);
    EXPECT_EQ(LocalFree(empty), nullptr);
    // Oversized requests fail: 2 GiB is more than a 32-bit process can hold,
    // and the native layer refuses what a 32-bit process would.
#ifndef _WIN64
    SetLastError(0);
    EXPECT_EQ(LocalAlloc(LMEM_MOVEABLE, (SIZE_T)0x80000000u), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
#endif
    EXPECT_EQ(LocalAlloc(LMEM_MOVEABLE, (SIZE_T)-1), nullptr);
    HLOCAL h = LocalAlloc(LMEM_MOVEABLE, 10);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(LocalSize(h), 10u);
    void *p = LocalLock(h);
    ASSERT_NE(p, nullptr);
    memset(p, 1, 10);
    // Unlocking the last lock answers FALSE with no error.
    SetLastError(77);
    EXPECT_FALSE(LocalUnlock(h));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(LocalFree(h), nullptr);
}

TEST(Platform, LastErrorIsPerThread) {
    // Each thread sets its own number, all wait until every one has, then read
    // back. Thread creation itself may change the number, so nothing is
    // called between setting and reading but atomic operations.
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    DWORD seen[2] = {};
    auto worker = [&](DWORD mine, DWORD *out) {
        SetLastError(mine);
        ++ready;
        while (!go) {
        }
        *out = GetLastError();
    };
    std::thread a(worker, 5, &seen[0]);
    std::thread b(worker, 87, &seen[1]);
    SetLastError(1234);
    while (ready < 2) {
    }
    DWORD main_seen = GetLastError();
    go = true;
    a.join();
    b.join();
    EXPECT_EQ(seen[0], 5u);
    EXPECT_EQ(seen[1], 87u);
    EXPECT_EQ(main_seen, 1234u);
}

TEST(Platform, CaseInsensitiveComparison) {
    EXPECT_EQ(_stricmp("ABC.txt", "abc.TXT"), 0);
    EXPECT_NE(_stricmp("abc", "abd"), 0);
    EXPECT_NE(_stricmp("abc", "abc "), 0);
}

}  // namespace
