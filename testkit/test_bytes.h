// Byte images of test files: little-endian fields written and read by
// position, and filler bytes that differ from seed to seed.
#pragma once

#include <stddef.h>
#include <stdint.h>

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
// call costs tens of times as much); 1, the whole sweep, when unset.
uint32_t sweep_divisor();
// `full` rounds divided so, at least one.
uint32_t sweep_rounds(uint32_t full);
