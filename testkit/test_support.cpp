#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include <gtest/gtest.h>

#ifdef _WIN32
#include "code_page.h"
#endif

namespace fs = std::filesystem;

LoadedPlugin test_load_plugin(const char *path) {
    LoadedPlugin plugin;
    char why[512] = "";
    if (!plugin_load(&plugin, path, why, sizeof why))
        ADD_FAILURE() << "cannot load " << path << ": " << why;
    return plugin;
}

int test_wide() {
    const char *wide = getenv("SPI_TEST_WIDE");
    return wide && strcmp(wide, "1") == 0;
}

std::array<PluginCalls, 2> test_both_widths(const LoadedPlugin *plugin) {
    if (!plugin->get_plugin_info_w) ADD_FAILURE() << "the plug-in has no wide exports";
    return {plugin_calls(plugin, PLUGIN_SET_NARROW, UTF_LATIN1_BYTES),
            plugin_calls(plugin, PLUGIN_SET_WIDE, UTF_LATIN1_BYTES)};
}

LoadedPlugin test_load_tolvane() { return test_load_plugin(SPI_TOLVANE_PATH); }
LoadedPlugin test_load_pellimor() { return test_load_plugin(SPI_PELLIMOR_PATH); }

std::vector<std::string> test_export_names(PluginKind kind) {
    std::vector<std::string> names;
    for (const PluginExport &e : PLUGIN_EXPORTS) {
        if (e.kind != PLUGIN_ANY && e.kind != kind) continue;
        names.push_back(e.name);
        names.push_back(e.wide_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

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
    ASSERT_TRUE(write_whole_file(path, bytes)) << "cannot write " << path;
}

std::u16string test_unicode_dir() {
    fs::path dir = fs::path(test_scratch_dir()) / fs::path(u"\u56FE\u50CF \U0001F600 \u00FC");
    std::error_code ec;
    EXPECT_TRUE(fs::create_directory(dir, ec)) << ec.message();
    return dir.u16string();
}

std::u16string test_path_w(const std::u16string &dir, const std::u16string &name) {
    return dir + u"/" + name;
}

void test_write_file_w(const std::u16string &path, const Bytes &bytes) {
    ASSERT_TRUE(write_whole_file(path, bytes.data(), bytes.size())) << "cannot write a file";
}

Bytes test_read_file_w(const std::u16string &path) {
    Bytes bytes;
    read_whole_file(path, &bytes);
    return bytes;
}

std::vector<std::u16string> test_list_dir_w(const std::u16string &dir) {
    std::vector<std::u16string> names;
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator(fs::path(dir), ec))
        names.push_back(e.path().filename().u16string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string test_lossy_name(const std::u16string &name) {
#ifdef _WIN32
    int32_t units = (int32_t)name.size();
    int32_t n = units ? code_page_from_utf16(name.data(), units, CODE_PAGE_LOSSY, nullptr, 0) : 0;
    std::string out((size_t)n, '\0');
    if (n) code_page_from_utf16(name.data(), units, CODE_PAGE_LOSSY, &out[0], n);
    return out;
#else
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] >= 0xD800 && name[i] <= 0xDBFF) ++i;  // one character, two units
        out.push_back(name[i] < 0x80 ? (char)name[i] : '?');
    }
    return out;
#endif
}

Bytes test_read_file(const std::string &path) {
    Bytes bytes;
    read_whole_file(path, &bytes);
    return bytes;
}

bool test_file_exists(const std::string &path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

Bytes test_take_block(HLOCAL block) {
    Bytes bytes;
    const char *wrong = take_block(block, &bytes);
    if (wrong) ADD_FAILURE() << wrong;
    return bytes;
}

void test_plugin_info_case(const PluginCalls &plugin, const InfoCase &c) {
    char buf[300];
    memset(buf, 'X', sizeof buf);
    ASSERT_LE(c.buflen, (int32_t)sizeof buf);
    EXPECT_EQ(call_get_plugin_info(&plugin, c.infono, buf, c.buflen), c.length);
    if (!c.expected) {
        for (char ch : buf) ASSERT_EQ(ch, 'X') << "buf was written";
        return;
    }
    EXPECT_STREQ(buf, c.expected);
    for (int32_t i = (int32_t)strlen(c.expected); i < c.buflen; ++i) EXPECT_EQ(buf[i], 0) << i;
    for (size_t i = (size_t)c.buflen; i < sizeof buf; ++i) ASSERT_EQ(buf[i], 'X') << i;
}

void test_description_has_notice(const PluginCalls &plugin, const char *version) {
    char buf[300];
    memset(buf, 'X', sizeof buf);
    int32_t n = call_get_plugin_info(&plugin, 1, buf, sizeof buf);
    size_t v = strlen(version);
    ASSERT_GT(n, (int32_t)v);
    EXPECT_EQ(std::string(buf, v), version);
    EXPECT_NE(buf[v], ' ') << "two blanks, then the notice";
    // strncpy semantics: the rest of the buffer is NUL up to buflen - 1.
    for (int32_t i = n; i < (int32_t)sizeof buf; ++i) ASSERT_EQ(buf[i], '\0') << i;
}
