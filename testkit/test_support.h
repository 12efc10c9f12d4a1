// Helpers every test program shares: loading the plug-ins under test, a
// scratch folder, and whole-file reads and writes.
#pragma once

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

#include "contract.h"
#include "plugin_calls.h"
#include "plugin_exports.h"
#include "test_bytes.h"

#ifndef _WIN32
#include "winlayer_testing.h"
#endif

// The plug-in built in this tree, loaded by file name as a host loads it.
// Fails the current test when it does not load.
LoadedPlugin test_load_tolvane();
LoadedPlugin test_load_pellimor();
LoadedPlugin test_load_plugin(const char *path);

// Which exports this run of a behaviour suite drives: 0, the 8-bit ones; 1,
// their wide siblings. ctest runs each suite twice, the second time (NAME.wide)
// with SPI_TEST_WIDE=1 in the environment: the same cases and expectations
// through both export sets.
int test_wide();

// The calls into the plug-in by width (plugin_calls.h): [0] its 8-bit
// exports, [1] its wide ones, any 8-bit name reaching them (UTF_LATIN1_BYTES).
std::array<PluginCalls, 2> test_both_widths(const LoadedPlugin *plugin);

// Every export a plug-in of `kind` has, 8-bit and wide, sorted by name.
std::vector<std::string> test_export_names(PluginKind kind);

// A fresh, empty folder for this test program, ending without a separator.
// Each call gives a new one below the program's own scratch root.
std::string test_scratch_dir();

// Joins a folder and a name with the platform's separator.
std::string test_path(const std::string &dir, const std::string &name);

void test_write_file(const std::string &path, const Bytes &bytes);

// Names no 8-bit code page holds. A fresh folder "图像 😀 ü" below the
// program's scratch root, as UTF-16; files in it are written and read
// through CreateFileW, the system's own or the native Win32 layer's.
std::u16string test_unicode_dir();
std::u16string test_path_w(const std::u16string &dir, const std::u16string &name);
void test_write_file_w(const std::u16string &path, const Bytes &bytes);
Bytes test_read_file_w(const std::u16string &path);
// The folder's entries, sorted, as UTF-16.
std::vector<std::u16string> test_list_dir_w(const std::u16string &dir);
// The 8-bit form the host's code page gives the name: every character it
// cannot hold becomes '?' (natively every character outside ASCII).
std::string test_lossy_name(const std::u16string &name);
// The whole file; an empty vector when it cannot be read (see test_file_exists).
Bytes test_read_file(const std::string &path);
bool test_file_exists(const std::string &path);

// Copies the contents of a hand-over block and frees it with LocalFree, as a
// host does; fails the current test when the block is locked or LocalFree fails.
Bytes test_take_block(HLOCAL block);

// One row of a plug-in's GetPluginInfo table: GetPluginInfo(infono, buf,
// buflen) returns `length`; with `expected`, buf then holds it followed by
// NUL bytes up to buflen - 1 and nothing is written past buflen; without, buf
// is left untouched.
struct InfoCase {
    int32_t infono;
    int32_t buflen;
    int32_t length;
    const char *expected;
};
void test_plugin_info_case(const PluginCalls &plugin, const InfoCase &c);

// Entry 1 begins with `version` (ending in its two blanks), then the maker's
// notice, and the rest of the buffer is NUL.
void test_description_has_notice(const PluginCalls &plugin, const char *version);
