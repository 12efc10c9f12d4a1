#include "test_support.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <filesystem>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

LoadedPlugin test_load_plugin(const char *path) {
    LoadedPlugin plugin;
    char why[512] = "";
    if (!plugin_load(&plugin, path, why, sizeof why))
        ADD_FAILURE() << "cannot load " << path << ": " << why;
    return plugin;
}

LoadedPlugin test_load_tolvane() { return test_load_plugin(SPI_TOLVANE_PATH); }
LoadedPlugin test_load_pellimor() { return test_load_plugin(SPI_PELLIMOR_PATH); }

std::string test_scratch_dir() {
    static std::atomic<unsigned> counter{0};
    static const fs::path root = [] {
        fs::path base = fs::temp_directory_path();
        for (unsigned i = 0;; ++i) {
            fs::path candidate = base / ("spi-test-" + std::to_string((unsigned)time(nullptr)) +
                                         "-" + std::to_string(i));
            std::error_code ec;
            if (fs::create_directory(candidate, ec)) return candidate;
        }
    }();
    fs::path dir = root / std::to_string(counter++);
    fs::create_directories(dir);
    return dir.string();
}

std::string test_path(const std::string &dir, const std::string &name) {
    return (fs::path(dir) / name).string();
}

void test_write_file(const std::string &path, const Bytes &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << "cannot create " << path;
    if (!bytes.empty()) {
        EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    fclose(f);
}

Bytes test_read_file(const std::string &path) {
    Bytes bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    fclose(f);
    return bytes;
}

bool test_file_exists(const std::string &path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

int64_t test_live_blocks() {
#ifdef _WIN32
    return 0;
#else
    return winlayer_live_blocks();
#endif
}

Bytes test_take_block(HLOCAL block) {
    Bytes bytes;
    if (!block) {
        ADD_FAILURE() << "no block handed over";
        return bytes;
    }
    SIZE_T size = LocalSize(block);
    void *p = LocalLock(block);
    if (size > 0) {
        EXPECT_NE(p, nullptr) << "a handed-over block must be lockable";
        if (p) bytes.assign((const uint8_t *)p, (const uint8_t *)p + size);
    }
    if (p) {
        // The host's lock must be the only one: the plug-in hands blocks over unlocked.
        EXPECT_FALSE(LocalUnlock(block)) << "the block was handed over still locked";
    }
    EXPECT_EQ(LocalFree(block), nullptr) << "LocalFree of a handed-over block failed";
    return bytes;
}
