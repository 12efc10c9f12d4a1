// What a careful reader makes of an FPK archive, written here in the plainest
// form and independent of the plug-in: the tests and the contract checks
// judge the plug-in's answers by it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "test_bytes.h"

// The largest count an archive may claim; every test names it by this.
constexpr uint32_t FPK_REFERENCE_COUNT_LIMIT = 89478484;

struct FpkListed {
    uint32_t offset;
    uint32_t size;
    std::string name;
};

// The directory of the archive starting at `start` of the image (zeros past
// its end), judged on its first `limit` entries: true with those entries when
// the count and they are consistent; false otherwise, with the entries read
// before the first inconsistent one. An entry past the end
// of the image reads as zeros and fails on its size, so the walk ends within
// the image whatever the count says.
bool fpk_reference_read(const uint8_t *data, size_t size, uint64_t start, uint64_t limit,
                        std::vector<FpkListed> *entries);
inline bool fpk_reference_read(const Bytes &image, uint64_t start, uint64_t limit,
                               std::vector<FpkListed> *entries) {
    return fpk_reference_read(image.data(), image.size(), start, limit, entries);
}

// GetFile's progress reports (done, total) for a member of `size` bytes: 32
// steps (or one per byte below 32), the completed count, then a report that
// starts over at 0 of 32.
std::vector<std::pair<int32_t, int32_t>> fpk_reference_reports(uint32_t size);

// The member's bytes in the image, zeros past its end (where GetFile from a
// file answers RESULT_READ_ERROR instead).
Bytes fpk_reference_member(const Bytes &image, uint32_t offset, uint32_t size);
