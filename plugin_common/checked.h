// Checked arithmetic and little-endian field access for sizes and offsets
// taken from input. A size that does not fit in 32 bits is refused, never
// wrapped.
#pragma once

#include <stdint.h>

// *out = a + b; returns 0, leaving *out alone, when the sum exceeds 32 bits.
inline int checked_add_u32(uint32_t a, uint32_t b, uint32_t *out) {
    if (a > UINT32_MAX - b) return 0;
    *out = a + b;
    return 1;
}

// *out = a * b; returns 0, leaving *out alone, when the product exceeds 32 bits.
inline int checked_mul_u32(uint32_t a, uint32_t b, uint32_t *out) {
    if (a != 0 && b > UINT32_MAX / a) return 0;
    *out = a * b;
    return 1;
}

inline uint32_t read_le32(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

inline uint16_t read_le16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

inline void write_le32(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

inline void write_le16(uint8_t *p, uint16_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
