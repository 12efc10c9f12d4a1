// A small FPK writer and an independent reader for the tests: archives are
// built in code, then broken on purpose through the poke helpers.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "test_support.h"

constexpr uint32_t TEST_FPK_ENTRY = 24;
// Whole entries after the count in IsSupported's 2048 bytes.
constexpr uint32_t TEST_PROBE_ENTRIES = 85;

struct FpkMember {
    std::string name;  // up to 16 bytes are stored; a 16-byte name has no NUL
    Bytes data;
};

// count, directory, `gap` spare bytes, then the members back to back.
Bytes make_fpk(const std::vector<FpkMember> &members, uint32_t gap = 0);

// `n` members named m0, m1, ... of sizes 1 + (i * 7) % 23 with distinct bytes.
std::vector<FpkMember> make_members(uint32_t n);

// Member bytes that differ from member to member and from byte to byte.
Bytes test_pattern(uint32_t size, uint32_t seed);

// Byte position of entry i's fields.
inline size_t fpk_entry_pos(uint32_t i) { return 4 + (size_t)i * TEST_FPK_ENTRY; }

uint32_t fpk_get_offset(const Bytes &image, uint32_t entry);
void poke_le32(Bytes &image, size_t at, uint32_t value);
void fpk_set_count(Bytes &image, uint32_t count);
void fpk_set_offset(Bytes &image, uint32_t entry, uint32_t offset);
void fpk_set_size(Bytes &image, uint32_t entry, uint32_t size);
// Stores up to 16 bytes of `name` as the entry's name field, zero-filled.
void fpk_set_name(Bytes &image, uint32_t entry, const std::string &name);

// What a careful reader makes of an archive image starting at `start`, with
// zeros past its end: the entries when the header and the first `limit`
// entries are consistent, false otherwise.
struct FpkListed {
    uint32_t offset;
    uint32_t size;
    std::string name;
};
bool fpk_reference_read(const Bytes &image, size_t start, uint64_t limit,
                        std::vector<FpkListed> *entries);

// The member's bytes in the image, zeros past its end (where GetFile from a
// file answers RESULT_READ_ERROR instead).
Bytes fpk_reference_member(const Bytes &image, uint32_t offset, uint32_t size);
