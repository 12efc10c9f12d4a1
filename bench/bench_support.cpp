#include "bench_support.h"

#include <stdio.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#include <stb_image.h>

int bench_load_plugin(LoadedPlugin *plugin, const char *path) {
    char why[512] = "";
    if (plugin_load(plugin, path, why, sizeof why)) return 1;
    fprintf(stderr, "cannot load %s: %s\n", path, why);
    return 0;
}

void put_le32(Bytes &b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = (uint8_t)(v >> (8 * k));
}

static void put_le16(Bytes &b, size_t at, uint32_t v) {
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

Bytes make_bmp565(uint32_t width, uint32_t height) {
    uint32_t stride = (2 * width + 3) & ~3u;
    Bytes b(66 + (size_t)stride * height, 0);
    put_le16(b, 0, 0x4D42);
    put_le32(b, 2, (uint32_t)b.size());
    put_le32(b, 10, 66);
    put_le32(b, 14, 40);
    put_le32(b, 18, width);
    put_le32(b, 22, height);
    put_le16(b, 26, 1);
    put_le16(b, 28, 16);
    put_le32(b, 30, 3);
    put_le32(b, 34, stride * height);
    put_le32(b, 54, 0xF800);
    put_le32(b, 58, 0x07E0);
    put_le32(b, 62, 0x001F);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            uint32_t r = x * 31 / width, g = y * 63 / height, bl = (noise >> 27);
            put_le16(b, 66 + (size_t)y * stride + 2 * x, r << 11 | g << 5 | bl);
        }
    return b;
}

Bytes make_fpk(uint32_t count, uint32_t member_size) {
    size_t directory = 4 + (size_t)count * 24;
    Bytes image(directory + (size_t)count * member_size);
    put_le32(image, 0, count);
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = 4 + (size_t)i * 24;
        put_le32(image, at, (uint32_t)(directory + (size_t)i * member_size));
        put_le32(image, at + 4, member_size);
        snprintf((char *)&image[at + 8], 16, "m%u", i);
    }
    for (size_t i = directory; i < image.size(); ++i) image[i] = (uint8_t)(i * 131);
    return image;
}

int picture_matches_stb(const LoadedPlugin *pellimor, const Bytes &file, uint32_t width, uint32_t height) {
    int w = 0, h = 0, n = 0;
    unsigned char *rgb = stbi_load_from_memory(file.data(), (int)file.size(), &w, &h, &n, 3);
    HLOCAL info = nullptr, bits = nullptr;
    int32_t code = pellimor->get_picture((const char *)file.data(), (LONG_PTR)file.size(), SOURCE_MEMORY,
                                         &info, &bits, nullptr, 0);
    int same = rgb && code == RESULT_OK && (uint32_t)w == width && (uint32_t)h == height;
    if (same) {
        const uint8_t *dib = (const uint8_t *)LocalLock(bits);
        size_t stride = ((size_t)w * 3 + 3) & ~(size_t)3;
        same = dib != nullptr;
        // stb gives top-down RGB rows, the DIB bottom-up BGR rows.
        for (int row = 0; row < h && same; ++row)
            for (int col = 0; col < w && same; ++col) {
                const uint8_t *s = rgb + ((size_t)row * w + col) * 3;
                const uint8_t *d = dib + (size_t)(h - 1 - row) * stride + (size_t)col * 3;
                same = s[0] == d[2] && s[1] == d[1] && s[2] == d[0];
            }
        LocalUnlock(bits);
    }
    stbi_image_free(rgb);
    LocalFree(bits);
    LocalFree(info);
    return same;
}

void print_ratio(const char *what, double peer_seconds, double our_seconds, double target) {
    if (!(peer_seconds > 0) || !(our_seconds > 0)) {
        printf("%-58s no time\n", what);
        return;
    }
    double ratio = peer_seconds / our_seconds;
    if (target > 0)
        printf("%-58s %6.2fx  (target %.1fx: %s)\n", what, ratio, target, ratio >= target ? "met" : "NOT MET");
    else
        printf("%-58s %6.2fx\n", what, ratio);
}
