// Helpers every test program shares: loading the plug-ins under test, a
// scratch folder, and whole-file reads and writes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "plugin_load.h"

typedef std::vector<uint8_t> Bytes;

// The plug-in built in this tree, loaded by file name as a host loads it.
// Fails the current test when it does not load.
LoadedPlugin test_load_tolvane();
LoadedPlugin test_load_pellimor();
LoadedPlugin test_load_plugin(const char *path);

// A fresh, empty folder for this test program, ending without a separator.
// Each call gives a new one below the program's own scratch root.
std::string test_scratch_dir();

// Joins a folder and a name with the platform's separator.
std::string test_path(const std::string &dir, const std::string &name);

void test_write_file(const std::string &path, const Bytes &bytes);
// The whole file; an empty vector when it cannot be read (see test_file_exists).
Bytes test_read_file(const std::string &path);
bool test_file_exists(const std::string &path);

// Live blocks the calling thread holds. Natively the Win32 layer counts them;
// under Windows the count is not known and this returns 0.
int64_t test_live_blocks();

// Copies the contents of a hand-over block and frees it with LocalFree, as a
// host does; fails the current test when the block is locked or LocalFree fails.
Bytes test_take_block(HLOCAL block);
