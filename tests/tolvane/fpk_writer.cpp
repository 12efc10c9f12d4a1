#include "fpk_writer.h"

#include <string.h>

Bytes test_pattern(uint32_t size, uint32_t seed) {
    Bytes b(size);
    uint32_t x = seed * 2654435761u + 12345;
    for (uint32_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345;
        b[i] = (uint8_t)(x >> 16);
    }
    return b;
}

std::vector<FpkMember> make_members(uint32_t n) {
    std::vector<FpkMember> members;
    for (uint32_t i = 0; i < n; ++i)
        members.push_back({"m" + std::to_string(i), test_pattern(1 + (i * 7) % 23, i)});
    return members;
}

void poke_le32(Bytes &image, size_t at, uint32_t value) {
    if (image.size() < at + 4) image.resize(at + 4);
    for (int k = 0; k < 4; ++k) image[at + k] = (uint8_t)(value >> (8 * k));
}

uint32_t fpk_get_offset(const Bytes &image, uint32_t entry) {
    size_t at = fpk_entry_pos(entry);
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= (uint32_t)image.at(at + k) << (8 * k);
    return v;
}

void fpk_set_count(Bytes &image, uint32_t count) { poke_le32(image, 0, count); }
void fpk_set_offset(Bytes &image, uint32_t entry, uint32_t offset) {
    poke_le32(image, fpk_entry_pos(entry), offset);
}
void fpk_set_size(Bytes &image, uint32_t entry, uint32_t size) {
    poke_le32(image, fpk_entry_pos(entry) + 4, size);
}
void fpk_set_name(Bytes &image, uint32_t entry, const std::string &name) {
    size_t at = fpk_entry_pos(entry) + 8;
    if (image.size() < at + 16) image.resize(at + 16);
    memset(&image[at], 0, 16);
    memcpy(&image[at], name.data(), name.size() < 16 ? name.size() : 16);
}

Bytes make_fpk(const std::vector<FpkMember> &members, uint32_t gap) {
    uint32_t count = (uint32_t)members.size();
    Bytes image(fpk_entry_pos(count) + gap, 0);
    fpk_set_count(image, count);
    uint32_t offset = (uint32_t)image.size();
    for (uint32_t i = 0; i < count; ++i) {
        fpk_set_offset(image, i, offset);
        fpk_set_size(image, i, (uint32_t)members[i].data.size());
        fpk_set_name(image, i, members[i].name);
        offset += (uint32_t)members[i].data.size();
    }
    for (const FpkMember &m : members) image.insert(image.end(), m.data.begin(), m.data.end());
    return image;
}

namespace {

uint8_t byte_at(const Bytes &image, uint64_t at) { return at < image.size() ? image[at] : 0; }

uint32_t le32_at(const Bytes &image, uint64_t at) {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= (uint32_t)byte_at(image, at + k) << (8 * k);
    return v;
}

bool name_at(const Bytes &image, uint64_t at, std::string *name) {
    name->clear();
    for (int k = 0; k < 16; ++k) {
        uint8_t c = byte_at(image, at + k);
        if (c == 0) return k > 0;
        if (c <= ' ' || c >= 0x7F) return false;
        name->push_back((char)c);
    }
    return false;
}

}  // namespace

bool fpk_reference_read(const Bytes &image, size_t start, uint64_t limit,
                        std::vector<FpkListed> *entries) {
    entries->clear();
    int64_t count = (int32_t)le32_at(image, start);
    if (count < 1 || count > 89478484) return false;
    uint64_t n = (uint64_t)count < limit ? (uint64_t)count : limit;
    if (n == 0) n = 1;  // the header check always looks at entry 0
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t at = start + 4 + i * 24;
        FpkListed e;
        e.offset = le32_at(image, at);
        e.size = le32_at(image, at + 4);
        if ((int32_t)e.size < 1 || !name_at(image, at + 8, &e.name)) return false;
        if (i == 0 && (int64_t)(int32_t)e.offset < count * 24 + 4) return false;
        if (i > 0) {
            const FpkListed &p = entries->back();
            if (e.offset != (uint32_t)(p.offset + p.size)) return false;
        }
        entries->push_back(e);
    }
    return true;
}

Bytes fpk_reference_member(const Bytes &image, uint32_t offset, uint32_t size) {
    Bytes b(size);
    for (uint32_t i = 0; i < size; ++i) b[i] = byte_at(image, (uint64_t)offset + i);
    return b;
}
