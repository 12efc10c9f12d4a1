// make_samples DIR: writes the demo's sample files into DIR.
//
//   sample.fpk       an FPK archive of a few text members: a 32-bit count, then
//                    24-byte directory entries (offset, size, 16-byte NUL-padded
//                    name), then the members back to back after the directory
//   gradient565.bmp  16-bit bit-field bitmaps, masks 5-6-5 and 5-5-5: a 14-byte
//   gradient555.bmp  file header, a 40-byte information header with
//                    biCompression 3, three 32-bit masks, bottom-up rows padded
//                    to 4 bytes, pixels from byte 66
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "bmp16_writer.h"
#include "fpk_writer.h"

constexpr uint32_t PIXELS_PER_METRE_72DPI = 2835;

static int write_file(const std::string &path, const Bytes &bytes) {
    if (!write_whole_file(path, bytes)) {
        fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
        return 0;
    }
    printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
    return 1;
}

// Quantises an 8-bit level to a channel of `bits` bits and places it at `shift`.
static uint32_t channel(uint32_t level, uint32_t bits, uint32_t shift) {
    return (level >> (8 - bits)) << shift;
}

// Red grows from left to right, green from bottom to top, blue from the
// bottom-right corner to the top-left.
static Bytes make_gradient(int32_t width, int32_t height, Masks masks, const uint32_t bits[3],
                           const uint32_t shifts[3]) {
    std::vector<uint16_t> pixels;
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) {
            uint32_t r = (uint32_t)(x * 255 / (width - 1));
            uint32_t g = (uint32_t)(y * 255 / (height - 1));
            uint32_t b = (uint32_t)((width - 1 - x + y) * 255 / (width + height - 2));
            pixels.push_back((uint16_t)(channel(r, bits[0], shifts[0]) | channel(g, bits[1], shifts[1]) |
                                        channel(b, bits[2], shifts[2])));
        }
    Bmp16Knobs knobs;
    knobs.size_image = (((uint32_t)width * 2 + 3) & ~3u) * (uint32_t)height;
    knobs.x_density = knobs.y_density = PIXELS_PER_METRE_72DPI;
    knobs.fill = 0;
    return make_bmp16(width, height, masks, pixels, knobs);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_samples DIR\n");
        return 2;
    }
    std::string dir = argv[1];

    std::string numbers;
    for (int i = 1; i <= 200; i++) numbers += std::to_string(i) + (i % 10 ? " " : "\n");
    auto text = [](const char *name, const std::string &t) {
        return FpkMember{name, Bytes(t.begin(), t.end())};
    };
    std::vector<FpkMember> members = {
        text("readme.txt", "A sample FPK archive, written by make_samples.\n"
                           "Its members are stored back to back, uncompressed.\n"),
        text("hello.txt", "Hello from inside the archive.\n"),
        text("numbers.txt", numbers),
        text("NOTES.TXT", "Names are up to 15 characters, matched exactly.\n"),
    };

    const uint32_t bits565[3] = {5, 6, 5};
    const uint32_t shifts565[3] = {11, 5, 0};
    const uint32_t bits555[3] = {5, 5, 5};
    const uint32_t shifts555[3] = {10, 5, 0};

    int ok = write_file(dir + "/sample.fpk", make_fpk(members));
    ok = ok && write_file(dir + "/gradient565.bmp",
                          make_gradient(64, 48, MASKS_565, bits565, shifts565));
    // An odd width, so that every row carries two bytes of padding.
    ok = ok && write_file(dir + "/gradient555.bmp",
                          make_gradient(61, 40, MASKS_555, bits555, shifts555));
    return ok ? 0 : 1;
}
