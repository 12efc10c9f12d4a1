// The one FPK writer of the tests, fuzz corpora, benchmarks and samples:
// archives are built in code, then broken on purpose through the field
// setters.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "fpk_reference.h"
#include "test_bytes.h"

constexpr uint32_t TEST_FPK_COUNT = 4;
constexpr uint32_t TEST_FPK_ENTRY = 24;
constexpr uint32_t TEST_FPK_NAME = 16;
// Whole entries after the count in IsSupported's 2048 bytes.
constexpr uint32_t TEST_PROBE_ENTRIES = 85;

struct FpkMember {
    std::string name;  // up to 16 bytes are stored; a 16-byte name has no NUL
    Bytes data;
};

// count, directory, `gap` spare bytes (zeros), then the members back to back.
Bytes make_fpk(const std::vector<FpkMember> &members, uint32_t gap = 0);

// `n` members named m0, m1, ... of sizes 1 + (i * 7) % 23 with distinct bytes.
std::vector<FpkMember> make_members(uint32_t n);

// Byte position of entry i's fields.
inline size_t fpk_entry_pos(uint32_t i) { return TEST_FPK_COUNT + (size_t)i * TEST_FPK_ENTRY; }

// `size` bytes whose count claims the most entries a directory may have
// (FPK_REFERENCE_COUNT_LIMIT): the first entry holds up (a member of
// `first_size` bytes named "a" right after the claimed directory), the rest
// of the directory reads as zeros.
Bytes make_fpk_claiming_most(size_t size, uint32_t first_size);

uint32_t fpk_get_offset(const Bytes &image, uint32_t entry);
void fpk_set_count(Bytes &image, uint32_t count);
void fpk_set_offset(Bytes &image, uint32_t entry, uint32_t offset);
void fpk_set_size(Bytes &image, uint32_t entry, uint32_t size);
// Stores up to 16 bytes of `name` as the entry's name field, zero-filled.
void fpk_set_name(Bytes &image, uint32_t entry, const std::string &name);
