// Tiny writers of FPK archives and 16-bit bit-field bitmaps: the seed corpora,
// the fault sweep, the thread test and the mutation sweep all start from them.
#pragma once

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

inline void put_le32(Bytes &b, size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
}

inline void put_le16(Bytes &b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2, 0);
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

struct FpkMember {
    std::string name;  // stored as given, cut to 16 bytes
    Bytes data;
};

// count, one 24-byte entry per member (offset, size, 16-byte name), `gap`
// spare bytes, then the members back to back.
inline Bytes make_fpk(const std::vector<FpkMember> &members, uint32_t gap = 0) {
    uint32_t count = (uint32_t)members.size();
    uint32_t offset = 4 + 24 * count + gap;
    Bytes b(offset, 0);
    put_le32(b, 0, count);
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = 4 + 24 * (size_t)i;
        put_le32(b, at, offset);
        put_le32(b, at + 4, (uint32_t)members[i].data.size());
        memcpy(&b[at + 8], members[i].name.data(), members[i].name.size() < 16 ? members[i].name.size() : 16);
        offset += (uint32_t)members[i].data.size();
    }
    for (const FpkMember &m : members) b.insert(b.end(), m.data.begin(), m.data.end());
    return b;
}

// Deterministic filler bytes, different for each seed.
inline Bytes pattern_bytes(size_t n, uint32_t seed) {
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

struct Bmp16Shape {
    int32_t width;
    int32_t height;
    uint32_t red, green, blue;  // the three bit-field masks
    uint32_t off_bits;          // bfOffBits; rows are placed there when above 66
    uint32_t seed;              // pixel values; 0 gives a gradient
};

// A bottom-up 16-bit BI_BITFIELDS bitmap: both headers, the masks, then the
// rows (each padded to 4 bytes) at max(66, off_bits).
inline Bytes make_bmp16(const Bmp16Shape &s) {
    uint32_t start = s.off_bits > 66 ? s.off_bits : 66;
    uint32_t stride = ((uint32_t)s.width * 2 + 3) & ~3u;
    uint32_t total = start + stride * (uint32_t)s.height;
    Bytes b(total, 0);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(b, 2, total);
    put_le32(b, 10, s.off_bits);
    put_le32(b, 14, 40);
    put_le32(b, 18, (uint32_t)s.width);
    put_le32(b, 22, (uint32_t)s.height);
    put_le16(b, 26, 1);
    put_le16(b, 28, 16);
    put_le32(b, 30, 3);
    put_le32(b, 34, stride * (uint32_t)s.height);
    put_le32(b, 54, s.red);
    put_le32(b, 58, s.green);
    put_le32(b, 62, s.blue);
    Bytes noise = pattern_bytes((size_t)s.width * s.height * 2, s.seed);
    for (int32_t y = 0; y < s.height; ++y)
        for (int32_t x = 0; x < s.width; ++x) {
            uint16_t p;
            if (s.seed == 0) p = (uint16_t)(x * 0x0841u + y * 0x1003u);
            else p = (uint16_t)(noise[2 * ((size_t)y * s.width + x)] | noise[2 * ((size_t)y * s.width + x) + 1] << 8);
            put_le16(b, start + (size_t)y * stride + 2 * (size_t)x, p);
        }
    return b;
}

inline Bmp16Shape bmp565(int32_t w, int32_t h, uint32_t seed = 0) {
    return Bmp16Shape{w, h, 0xF800, 0x07E0, 0x001F, 66, seed};
}
