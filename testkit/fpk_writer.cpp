#include "fpk_writer.h"

#include <string.h>

std::vector<FpkMember> make_members(uint32_t n) {
    std::vector<FpkMember> members;
    for (uint32_t i = 0; i < n; ++i)
        members.push_back({"m" + std::to_string(i), pattern_bytes(1 + (i * 7) % 23, i)});
    return members;
}

Bytes make_fpk_claiming_most(size_t size, uint32_t first_size) {
    Bytes image(size, 0);
    fpk_set_count(image, FPK_REFERENCE_COUNT_LIMIT);
    fpk_set_offset(image, 0, (uint32_t)fpk_entry_pos(FPK_REFERENCE_COUNT_LIMIT));
    fpk_set_size(image, 0, first_size);
    fpk_set_name(image, 0, "a");
    return image;
}

uint32_t fpk_get_offset(const Bytes &image, uint32_t entry) {
    return le32_at(image, fpk_entry_pos(entry));
}

void fpk_set_count(Bytes &image, uint32_t count) { put_le32(image, 0, count); }
void fpk_set_offset(Bytes &image, uint32_t entry, uint32_t offset) {
    put_le32(image, fpk_entry_pos(entry), offset);
}
void fpk_set_size(Bytes &image, uint32_t entry, uint32_t size) {
    put_le32(image, fpk_entry_pos(entry) + 4, size);
}
void fpk_set_name(Bytes &image, uint32_t entry, const std::string &name) {
    size_t at = fpk_entry_pos(entry) + 8;
    if (image.size() < at + TEST_FPK_NAME) image.resize(at + TEST_FPK_NAME);
    memset(&image[at], 0, TEST_FPK_NAME);
    memcpy(&image[at], name.data(), name.size() < TEST_FPK_NAME ? name.size() : TEST_FPK_NAME);
}

Bytes make_fpk(const std::vector<FpkMember> &members, uint32_t gap) {
    uint32_t count = (uint32_t)members.size();
    size_t total = fpk_entry_pos(count) + gap;
    for (const FpkMember &m : members) total += m.data.size();
    Bytes image(fpk_entry_pos(count) + gap, 0);
    image.reserve(total);
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
