#include "fpk_reference.h"

namespace {

uint8_t byte_at(const uint8_t *data, size_t size, uint64_t at) { return at < size ? data[at] : 0; }

// 1 to 15 bytes 0x21..0x7E, then NUL.
bool name_at(const uint8_t *data, size_t size, uint64_t at, std::string *name) {
    name->clear();
    for (int k = 0; k < 16; ++k) {
        uint8_t c = byte_at(data, size, at + k);
        if (c == 0) return k > 0;
        if (c <= ' ' || c >= 0x7F) return false;
        name->push_back((char)c);
    }
    return false;
}

}  // namespace

bool fpk_reference_read(const uint8_t *data, size_t size, uint64_t start, uint64_t limit,
                        std::vector<FpkListed> *entries) {
    entries->clear();
    int64_t count = (int32_t)le32_at(data, size, start);
    if (count < 1 || count > FPK_REFERENCE_COUNT_LIMIT) return false;
    uint64_t n = (uint64_t)count < limit ? (uint64_t)count : limit;
    if (n == 0) n = 1;  // the header check always looks at entry 0
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t at = start + 4 + i * 24;
        FpkListed e;
        e.offset = le32_at(data, size, at);
        e.size = le32_at(data, size, at + 4);
        if ((int32_t)e.size < 1 || !name_at(data, size, at + 8, &e.name)) return false;
        bool consistent = i == 0 ? (int64_t)(int32_t)e.offset >= count * 24 + 4
                                 : e.offset == (uint32_t)(entries->back().offset + entries->back().size);
        if (!consistent) return false;
        entries->push_back(e);
    }
    return true;
}

Bytes fpk_reference_member(const Bytes &image, uint32_t offset, uint32_t size) {
    Bytes b(size);
    for (uint32_t i = 0; i < size; ++i) b[i] = byte_at(image.data(), image.size(), (uint64_t)offset + i);
    return b;
}

std::vector<std::pair<int32_t, int32_t>> fpk_reference_reports(uint32_t size) {
    uint32_t steps = size / 32 == 0 ? size : 32;
    std::vector<std::pair<int32_t, int32_t>> r;
    for (uint32_t i = 0; i < steps; ++i) r.push_back({(int32_t)i, (int32_t)steps});
    r.push_back({(int32_t)steps, (int32_t)steps});
    r.push_back({0, 32});
    return r;
}
