// Byte images of test files: little-endian fields written and read by
// position, filler bytes that differ from seed to seed, whole files, and the
// one random damage every sweep does to its inputs.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// Writes the field at `at`, growing the image with zeros when it is shorter.
void put_le16(Bytes &b, size_t at, uint32_t v);
void put_le32(Bytes &b, size_t at, uint32_t v);

// Reads the field at `at` of `size` bytes, every byte past the end as zero,
// as the plug-ins' source stream does.
uint32_t le16_at(const uint8_t *data, size_t size, uint64_t at);
uint32_t le32_at(const uint8_t *data, size_t size, uint64_t at);
inline uint32_t le32_at(const Bytes &b, uint64_t at) { return le32_at(b.data(), b.size(), at); }

// Deterministic filler bytes, different for each seed.
Bytes pattern_bytes(size_t n, uint32_t seed);

// How much of each sweep a run makes: SPI_SWEEP_DIVISOR=N in the environment
// asks for every Nth case (the 32-bit leg under CPU emulation, where each
// call costs many times as much); 1, the whole sweep, when unset.
uint32_t sweep_divisor();
// `full` rounds divided so, at least one.
uint32_t sweep_rounds(uint32_t full);

// Whole files, named in the 8-bit code page or (u16string) in UTF-16: 1 when
// every byte was written or read, else 0.
int write_whole_file(const std::string &path, const uint8_t *data, size_t size);
int write_whole_file(const std::u16string &path, const uint8_t *data, size_t size);
inline int write_whole_file(const std::string &path, const Bytes &b) {
    return write_whole_file(path, b.data(), b.size());
}
int read_whole_file(const std::string &path, Bytes *out);
int read_whole_file(const std::u16string &path, Bytes *out);

// The sweeps' random numbers: a fixed seed gives the same inputs on every
// machine (splitmix64).
struct TestRandom {
    uint64_t state;
};
uint64_t random_next(TestRandom *r);
// 0 <= n < below; 0 when below is 0.
uint32_t random_below(TestRandom *r, uint32_t below);

// `seed` with 1 to 4 random edits: a bit flipped, a byte replaced, a 32-bit
// field set to a value near a boundary or nudged by one, the end cut off,
// random bytes appended, a run of bytes copied elsewhere. With `focus` > 0
// most edits that land inside the input land in its first `focus` bytes,
// where the headers or the directory are.
Bytes mutate_bytes(const Bytes &seed, uint32_t focus, TestRandom *r);
