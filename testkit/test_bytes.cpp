#include "test_bytes.h"

#include <stdlib.h>

void put_le16(Bytes &b, size_t at, uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2, 0);
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

void put_le32(Bytes &b, size_t at, uint32_t v) {
    put_le16(b, at, v & 0xFFFF);
    put_le16(b, at + 2, v >> 16);
}

static uint32_t byte_at(const uint8_t *data, size_t size, uint64_t at) {
    return at < size ? data[at] : 0;
}

uint32_t le16_at(const uint8_t *data, size_t size, uint64_t at) {
    return byte_at(data, size, at) | byte_at(data, size, at + 1) << 8;
}

uint32_t le32_at(const uint8_t *data, size_t size, uint64_t at) {
    return le16_at(data, size, at) | le16_at(data, size, at + 2) << 16;
}

Bytes pattern_bytes(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = (uint8_t)x;
    }
    return b;
}

uint32_t sweep_divisor() {
    const char *divisor = getenv("SPI_SWEEP_DIVISOR");
    uint32_t d = divisor ? (uint32_t)strtoul(divisor, nullptr, 10) : 1;
    return d > 1 ? d : 1;
}

uint32_t sweep_rounds(uint32_t full) {
    uint32_t rounds = full / sweep_divisor();
    return rounds > 0 ? rounds : 1;
}
