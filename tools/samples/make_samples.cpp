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
#include <string.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

constexpr uint32_t FPK_COUNT_SIZE = 4;
constexpr uint32_t FPK_ENTRY_SIZE = 24;
constexpr uint32_t FPK_NAME_SIZE = 16;

constexpr uint32_t BMP_FILE_HEADER_SIZE = 14;
constexpr uint32_t BMP_INFO_HEADER_SIZE = 40;
constexpr uint32_t BMP_MASKS_SIZE = 12;
constexpr uint32_t BMP_PIXELS_OFFSET = BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_SIZE + BMP_MASKS_SIZE;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t PIXELS_PER_METRE_72DPI = 2835;

static_assert(BMP_PIXELS_OFFSET == 66, "pixels follow the three masks");

struct SampleMember {
    const char *name;
    std::string text;
};

static void put_le16(Bytes *out, uint32_t v) {
    out->push_back((uint8_t)v);
    out->push_back((uint8_t)(v >> 8));
}

static void put_le32(Bytes *out, uint32_t v) {
    put_le16(out, v & 0xFFFF);
    put_le16(out, v >> 16);
}

static int write_file(const std::string &path, const Bytes &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "make_samples: cannot create %s\n", path.c_str());
        return 0;
    }
    size_t written = fwrite(bytes.data(), 1, bytes.size(), f);
    int closed = fclose(f) == 0;
    if (written != bytes.size() || !closed) {
        fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
        return 0;
    }
    printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
    return 1;
}

static Bytes make_fpk(const std::vector<SampleMember> &members) {
    Bytes out;
    uint32_t count = (uint32_t)members.size();
    put_le32(&out, count);
    uint32_t offset = FPK_COUNT_SIZE + count * FPK_ENTRY_SIZE;
    for (const SampleMember &m : members) {
        put_le32(&out, offset);
        put_le32(&out, (uint32_t)m.text.size());
        char name[FPK_NAME_SIZE] = {};
        strncpy(name, m.name, FPK_NAME_SIZE - 1);
        out.insert(out.end(), name, name + FPK_NAME_SIZE);
        offset += (uint32_t)m.text.size();
    }
    for (const SampleMember &m : members) out.insert(out.end(), m.text.begin(), m.text.end());
    return out;
}

// Quantises an 8-bit level to a channel of `bits` bits and places it at `shift`.
static uint32_t channel(uint32_t level, uint32_t bits, uint32_t shift) {
    return (level >> (8 - bits)) << shift;
}

// Red grows from left to right, green from bottom to top, blue from the
// bottom-right corner to the top-left.
static Bytes make_gradient(int32_t width, int32_t height, const uint32_t masks[3],
                           const uint32_t bits[3], const uint32_t shifts[3]) {
    uint32_t stride = ((uint32_t)width * 2 + 3) & ~3u;
    uint32_t image_size = stride * (uint32_t)height;
    Bytes out;
    put_le16(&out, 0x4D42);  // "BM"
    put_le32(&out, BMP_PIXELS_OFFSET + image_size);
    put_le16(&out, 0);
    put_le16(&out, 0);
    put_le32(&out, BMP_PIXELS_OFFSET);
    put_le32(&out, BMP_INFO_HEADER_SIZE);
    put_le32(&out, (uint32_t)width);
    put_le32(&out, (uint32_t)height);
    put_le16(&out, 1);
    put_le16(&out, 16);
    put_le32(&out, BI_BITFIELDS);
    put_le32(&out, image_size);
    put_le32(&out, PIXELS_PER_METRE_72DPI);
    put_le32(&out, PIXELS_PER_METRE_72DPI);
    put_le32(&out, 0);
    put_le32(&out, 0);
    for (int i = 0; i < 3; i++) put_le32(&out, masks[i]);
    for (int32_t y = 0; y < height; y++) {
        for (int32_t x = 0; x < width; x++) {
            uint32_t r = (uint32_t)(x * 255 / (width - 1));
            uint32_t g = (uint32_t)(y * 255 / (height - 1));
            uint32_t b = (uint32_t)((width - 1 - x + y) * 255 / (width + height - 2));
            put_le16(&out, channel(r, bits[0], shifts[0]) | channel(g, bits[1], shifts[1]) |
                               channel(b, bits[2], shifts[2]));
        }
        for (uint32_t pad = (uint32_t)width * 2; pad < stride; pad++) out.push_back(0);
    }
    return out;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_samples DIR\n");
        return 2;
    }
    std::string dir = argv[1];

    std::string numbers;
    for (int i = 1; i <= 200; i++) numbers += std::to_string(i) + (i % 10 ? " " : "\n");
    std::vector<SampleMember> members = {
        {"readme.txt", "A sample FPK archive, written by make_samples.\n"
                       "Its members are stored back to back, uncompressed.\n"},
        {"hello.txt", "Hello from inside the archive.\n"},
        {"numbers.txt", numbers},
        {"NOTES.TXT", "Names are up to 15 characters, matched exactly.\n"},
    };

    const uint32_t masks565[3] = {0xF800, 0x07E0, 0x001F};
    const uint32_t bits565[3] = {5, 6, 5};
    const uint32_t shifts565[3] = {11, 5, 0};
    const uint32_t masks555[3] = {0x7C00, 0x03E0, 0x001F};
    const uint32_t bits555[3] = {5, 5, 5};
    const uint32_t shifts555[3] = {10, 5, 0};

    int ok = write_file(dir + "/sample.fpk", make_fpk(members));
    ok = ok && write_file(dir + "/gradient565.bmp",
                          make_gradient(64, 48, masks565, bits565, shifts565));
    // An odd width, so that every row carries two bytes of padding.
    ok = ok && write_file(dir + "/gradient555.bmp",
                          make_gradient(61, 40, masks555, bits555, shifts555));
    return ok ? 0 : 1;
}
