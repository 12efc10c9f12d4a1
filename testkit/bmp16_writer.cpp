#include "bmp16_writer.h"

Bytes make_bmp16(int32_t w, int32_t h, Masks masks, const std::vector<uint16_t> &pixels,
                 const Bmp16Knobs &k) {
    // Dimensions the format refuses get no pixel rows.
    size_t cols = w > 0 ? (size_t)w : 0, rows = h > 0 ? (size_t)h : 0;
    size_t in_stride = (cols * 2 + 3) / 4 * 4;
    size_t start = k.off_bits > 66 ? k.off_bits : 66;
    Bytes b(start + in_stride * rows, k.fill);
    put_le16(b, 0, k.type);
    put_le32(b, 2, k.file_size ? k.file_size : (uint32_t)b.size());
    put_le16(b, 6, k.reserved1);
    put_le16(b, 8, k.reserved2);
    put_le32(b, 10, k.off_bits);
    put_le32(b, 14, k.info_size);
    put_le32(b, 18, (uint32_t)w);
    put_le32(b, 22, (uint32_t)h);
    put_le16(b, 26, k.planes);
    put_le16(b, 28, k.bit_count);
    put_le32(b, 30, k.compression);
    put_le32(b, 34, k.size_image);
    put_le32(b, 38, k.x_density);
    put_le32(b, 42, k.y_density);
    put_le32(b, 46, 0);  // biClrUsed
    put_le32(b, 50, 0);  // biClrImportant
    put_le32(b, 54, masks.red);
    put_le32(b, 58, masks.green);
    put_le32(b, 62, masks.blue);
    for (size_t y = 0; y < rows; ++y)
        for (size_t x = 0; x < cols; ++x) {
            size_t i = y * cols + x;
            put_le16(b, start + in_stride * y + 2 * x, i < pixels.size() ? pixels[i] : 0);
        }
    return b;
}

Bytes make_bmp16(const Bmp16Shape &s) {
    size_t cols = s.width > 0 ? (size_t)s.width : 0, rows = s.height > 0 ? (size_t)s.height : 0;
    std::vector<uint16_t> pixels(cols * rows);
    Bytes noise = pattern_bytes(pixels.size() * 2, s.seed);
    for (size_t y = 0; y < rows; ++y)
        for (size_t x = 0; x < cols; ++x) {
            size_t i = y * cols + x;
            pixels[i] = s.seed == 0 ? (uint16_t)(x * 0x0841u + y * 0x1003u)
                                    : (uint16_t)(noise[2 * i] | noise[2 * i + 1] << 8);
        }
    Bmp16Knobs k;
    k.off_bits = s.off_bits;
    k.size_image = (uint32_t)(((cols * 2 + 3) & ~(size_t)3) * rows);
    k.fill = 0;
    return make_bmp16(s.width, s.height, {s.red, s.green, s.blue}, pixels, k);
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
