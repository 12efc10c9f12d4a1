// Shared helpers of the tolvane behaviour suite: the plug-in under test and
// thin wrappers that call its exports as a host does.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fpk_reference.h"
#include "fpk_writer.h"
#include "test_support.h"

// The plug-in, loaded once per program by file name, and the calls into its
// 8-bit exports (wide 0) or its wide ones (wide 1).
const PluginCalls &tolvane_at(int wide);
// The exports this run of the suite drives.
inline const PluginCalls &tolvane() { return tolvane_at(test_wide()); }

// Every test checks that the calls it made left no block behind.
class TolvaneTest : public testing::Test {
protected:
    void SetUp() override { live_at_start_ = live_blocks(); }
    void TearDown() override { EXPECT_EQ(live_blocks(), live_at_start_) << "a block was left behind"; }
    int64_t live_at_start_ = 0;
};

// A result code the interface may return.
bool test_code_in_set(int32_t code);

struct Listing {
    int32_t code = -100;
    std::vector<FileInfoRecord> records;  // without the terminator
    Bytes raw;                            // the whole block as handed over
};

// The helpers call the exports of this run's width unless told another.

// GetArchiveInfo; on success the block is taken over, checked and freed.
Listing list_archive(const char *src, LONG_PTR len, uint32_t flag, int wide = test_wide());
Listing list_memory(const Bytes &image, int wide = test_wide());

// IsSupported over a 2048-byte buffer holding the start of `image`.
int32_t probe_buffer(const Bytes &image, int wide = test_wide());

// GetFile to memory; on success *out holds the member.
int32_t get_to_memory(const char *src, LONG_PTR len, uint32_t flag, Bytes *out,
                      ProgressCallback progress = nullptr, LONG_PTR user = 0, int wide = test_wide());

// The entries of the image as the independent reader sees them.
std::vector<FpkListed> reference_entries(const Bytes &image);
