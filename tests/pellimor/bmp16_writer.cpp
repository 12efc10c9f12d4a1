#include "bmp16_writer.h"

namespace {

void put16(Bytes &b, size_t at, uint32_t v) {
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

void put32(Bytes &b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// Byte `at` of the file, zero past its end.
uint32_t byte_at(const Bytes &file, uint64_t at) { return at < file.size() ? file[at] : 0; }

uint32_t le32_at(const Bytes &file, uint64_t at) {
    return byte_at(file, at) | byte_at(file, at + 1) << 8 | byte_at(file, at + 2) << 16 |
           byte_at(file, at + 3) << 24;
}

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

Bytes make_bmp16(int32_t w, int32_t h, Masks masks, const std::vector<uint16_t> &pixels,
                 const Bmp16Knobs &k) {
    // Dimensions the format refuses get no pixel rows.
    size_t cols = w > 0 ? (size_t)w : 0, rows = h > 0 ? (size_t)h : 0;
    size_t in_stride = (cols * 2 + 3) / 4 * 4;
    size_t start = k.off_bits > 66 ? k.off_bits : 66;
    Bytes b(start + in_stride * rows, 0xA7);
    put16(b, 0, k.type);
    put32(b, 2, k.file_size ? k.file_size : (uint32_t)b.size());
    put16(b, 6, k.reserved1);
    put16(b, 8, k.reserved2);
    put32(b, 10, k.off_bits);
    put32(b, 14, k.info_size);
    put32(b, 18, (uint32_t)w);
    put32(b, 22, (uint32_t)h);
    put16(b, 26, k.planes);
    put16(b, 28, k.bit_count);
    put32(b, 30, k.compression);
    for (size_t i = 34; i < 54; ++i) b[i] = 0;
    put32(b, 54, masks.red);
    put32(b, 58, masks.green);
    put32(b, 62, masks.blue);
    for (size_t y = 0; y < rows; ++y)
        for (size_t x = 0; x < cols; ++x) {
            size_t i = y * cols + x;
            put16(b, start + in_stride * y + 2 * x, i < pixels.size() ? pixels[i] : 0);
        }
    return b;
}

Bytes reference_decode(const Bytes &file) {
    uint32_t w = le32_at(file, 18), h = le32_at(file, 22);
    uint32_t red = le32_at(file, 54), green = le32_at(file, 58), blue = le32_at(file, 62);
    uint64_t off_bits = le32_at(file, 10);
    uint64_t start = off_bits > 66 ? off_bits : 66;
    uint64_t in_stride = ((uint64_t)w * 2 + 3) / 4 * 4;
    uint64_t out_stride = ((uint64_t)w * 3 + 3) / 4 * 4;
    Bytes out((size_t)(out_stride * h), 0);
    for (uint64_t y = 0; y < h; ++y)
        for (uint64_t x = 0; x < w; ++x) {
            uint64_t at = start + y * in_stride + 2 * x;
            uint32_t p = byte_at(file, at) | byte_at(file, at + 1) << 8;
            uint8_t *o = &out[(size_t)(y * out_stride + 3 * x)];
            if (p == 0xFFFF) {
                o[0] = o[1] = o[2] = 0xFF;
            } else if (p != 0) {
                o[0] = reference_channel(p, blue);
                o[1] = reference_channel(p, green);
                o[2] = reference_channel(p, red);
            }
        }
    return out;
}

std::vector<uint16_t> random_pixels(uint32_t count, uint32_t seed) {
    std::vector<uint16_t> px(count);
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < count; ++i) {
        x = x * 1664525u + 1013904223u;
        uint32_t r = x >> 8;
        px[i] = (r & 0x700000) == 0 ? 0 : (r & 0x700000) == 0x100000 ? 0xFFFF : (uint16_t)r;
    }
    return px;
}
