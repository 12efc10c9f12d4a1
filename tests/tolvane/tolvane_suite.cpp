#include "tolvane_suite.h"

#include <string.h>

#include <algorithm>

const PluginCalls &tolvane_at(int wide) {
    static const LoadedPlugin plugin = test_load_tolvane();
    static const std::array<PluginCalls, 2> both = test_both_widths(&plugin);
    return both[wide];
}

bool test_code_in_set(int32_t code) {
    // Every code tolvane may answer: all of the interface's but "not supported".
    return spi_result_text(code) && code != RESULT_NOT_SUPPORTED;
}

Listing list_archive(const char *src, LONG_PTR len, uint32_t flag, int wide) {
    Listing out;
    HLOCAL info = (HLOCAL)(uintptr_t)0x5A5A0;
    out.code = call_get_archive_info(&tolvane_at(wide), src, len, flag, &info);
    if (out.code != RESULT_OK) {
        // A failure leaves the host's variable null, whatever it held.
        EXPECT_EQ(info, nullptr);
        return out;
    }
    out.raw = test_take_block(info);
    size_t record_size = plugin_list_record_size(wide);
    size_t n = out.raw.size() / record_size;
    EXPECT_EQ(out.raw.size() % record_size, 0u);
    EXPECT_GE(n, 2u) << "at least one member and the terminator";
    if (n == 0) return out;
    EXPECT_EQ(out.raw[(n - 1) * record_size], 0) << "terminator";
    for (size_t i = 0; i + 1 < n; ++i) {
        FileInfoRecord r = plugin_list_record(out.raw.data(), i, wide);
        EXPECT_NE(r.method[0], 0) << "record " << i << " ends the list early";
        out.records.push_back(r);
    }
    return out;
}

Listing list_memory(const Bytes &image, int wide) {
    // A copy of exactly the image's length, so that reads past it are caught.
    std::vector<char> copy(image.begin(), image.end());
    return list_archive(copy.data(), (LONG_PTR)copy.size(), SOURCE_MEMORY, wide);
}

int32_t probe_buffer(const Bytes &image, int wide) {
    Bytes start(PROBE_BUFFER_SIZE, 0);
    std::copy(image.begin(), image.begin() + (image.size() < start.size() ? image.size() : start.size()),
              start.begin());
    return call_is_supported(&tolvane_at(wide), "archive.fpk", start.data());
}

int32_t get_to_memory(const char *src, LONG_PTR len, uint32_t flag, Bytes *out,
                      ProgressCallback progress, LONG_PTR user, int wide) {
    HLOCAL member = (HLOCAL)(uintptr_t)0x7A7A0;
    int32_t code = call_get_file(&tolvane_at(wide), src, len, (char *)&member, flag | DEST_MEMORY, progress, user);
    out->clear();
    if (code == RESULT_OK) {
        *out = test_take_block(member);
    } else {
        EXPECT_EQ(member, (HLOCAL)(uintptr_t)0x7A7A0) << "the host's variable changed on failure";
    }
    return code;
}

std::vector<FpkListed> reference_entries(const Bytes &image) {
    std::vector<FpkListed> entries;
    EXPECT_TRUE(fpk_reference_read(image, 0, UINT64_MAX, &entries));
    return entries;
}
