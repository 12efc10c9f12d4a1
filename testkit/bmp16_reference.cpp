#include "bmp16_reference.h"

namespace {

// One channel, one output bit at a time: output bit b takes the mask's bit
// that lies (7 - b) mod span below its top bit, span running from the lowest
// to the highest set bit of the mask.
uint8_t reference_channel(uint32_t pixel, uint32_t mask) {
    if (mask == 0) return 0;
    int top = 31;
    while (!((mask >> top) & 1)) --top;
    int bottom = 0;
    while (!((mask >> bottom) & 1)) ++bottom;
    int span = top - bottom + 1;
    uint32_t masked = pixel & mask;
    uint8_t out = 0;
    for (int b = 7; b >= 0; --b) {
        int from = top - (7 - b) % span;
        if ((masked >> from) & 1) out = (uint8_t)(out | 1 << b);
    }
    return out;
}

}  // namespace

Bmp16Reference bmp16_reference_headers(const uint8_t *data, size_t size) {
    Bmp16Reference r = {};
    auto le16 = [&](uint64_t at) { return le16_at(data, size, at); };
    auto le32 = [&](uint64_t at) { return le32_at(data, size, at); };
    uint32_t off_bits = le32(10);
    r.width = (int32_t)le32(18);
    r.height = (int32_t)le32(22);
    r.ok = le16(0) == 0x4D42 && le32(2) >= off_bits && le16(6) == 0 && le16(8) == 0 &&
           off_bits >= BMP16_REF_HEADERS_END && le32(14) == 40 && r.width > 0 && r.height > 0 &&
           le16(26) == 1 && le16(28) == 16 && le32(30) == 3;
    for (int i = 0; i < 3; ++i) r.masks[i] = le32(BMP16_REF_HEADERS_END + 4 * i);
    r.pixels_at = off_bits > BMP16_REF_MASKS_END ? off_bits : BMP16_REF_MASKS_END;
    uint64_t w = r.width > 0 ? (uint64_t)r.width : 0;
    r.in_stride = (2 * w + 3) / 4 * 4;
    r.out_stride = (3 * w + 3) / 4 * 4;
    return r;
}

Bytes bmp16_reference_rows(const uint8_t *data, size_t size, const Bmp16Reference &r) {
    if (r.width <= 0 || r.height <= 0) return Bytes();
    Bytes out((size_t)(r.out_stride * (uint64_t)r.height), 0);
    for (uint64_t y = 0; y < (uint64_t)r.height; ++y)
        for (uint64_t x = 0; x < (uint64_t)r.width; ++x) {
            uint32_t p = le16_at(data, size, r.pixels_at + y * r.in_stride + 2 * x);
            uint8_t *o = &out[(size_t)(y * r.out_stride + 3 * x)];
            if (p == 0xFFFF) {
                o[0] = o[1] = o[2] = 0xFF;
            } else if (p != 0) {
                o[0] = reference_channel(p, r.masks[2]);
                o[1] = reference_channel(p, r.masks[1]);
                o[2] = reference_channel(p, r.masks[0]);
            }
        }
    return out;
}

Bytes reference_decode(const Bytes &file) {
    return bmp16_reference_rows(file.data(), file.size(), bmp16_reference_headers(file.data(), file.size()));
}
