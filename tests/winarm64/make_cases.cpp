// make_cases DIR: writes the winarm64 leg's generated inputs into DIR, made
// with the test kit's writers and broken on purpose where a case asks:
//
//   masks/   every mask family the suites use, widths 1 to 64, odd heights
//   cut/     a small archive and a small bitmap cut at every byte
//   bad/     bad headers, empty and huge-count archives, names the plug-ins refuse
//   names/   good files under names that no code page writes
//
// Every file is the same on every run.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "bmp16_writer.h"
#include "fpk_writer.h"

namespace {

struct MaskFamily {
    uint32_t red, green, blue;
};

// The families of the pellimor suites' tables: 5-6-5, 5-5-5, 4-4-4, zero
// masks, masks above bit 15, within the low byte, split and overlapping.
const MaskFamily MASK_FAMILIES[] = {
    {0xF800, 0x07E0, 0x001F},      {0x7C00, 0x03E0, 0x001F}, {0x0F00, 0x00F0, 0x000F},
    {0, 0x07E0, 0},                {0x00FF0000, 0x07E0, 0x1F}, {0x0101, 0x00F0, 0x8001},
    {0xFFFF, 0x0FF0, 0x00FF},      {0x0101, 0, 0x00FF0000}, {0xFFFF, 0x0FF0, 0x8001},
    {0x0001, 0x0006, 0x00F0},      {0x0001FFFF, 0x00038000, 0xFFFFFFFFu},
};

int make_folder(const std::string &path) { return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

int write_case(const std::string &path, const Bytes &bytes) {
    if (write_whole_file(path, bytes)) return 1;
    fprintf(stderr, "make_cases: cannot write %s\n", path.c_str());
    return 0;
}

// The three-member archive the cuts and the names start from.
Bytes small_archive() {
    return make_fpk({{"a.txt", pattern_bytes(5, 1)}, {"B.Dat", pattern_bytes(7, 2)}, {"c", pattern_bytes(3, 3)}});
}

// A 3 x 3 bitmap, 90 bytes, with a white and a black pixel among the noise.
Bytes small_bitmap() {
    Bytes b = make_bmp16(bmp565(3, 3, 7));
    put_le16(b, 66, 0xFFFF);
    put_le16(b, 68, 0x0000);
    return b;
}

int write_masks(const std::string &dir) {
    int ok = make_folder(dir);
    uint32_t f = 0;
    for (const MaskFamily &m : MASK_FAMILIES) {
        for (int32_t w = 1; w <= 64; ++w) {
            int32_t h = 1 + 2 * ((w + (int32_t)f) % 3);
            Bytes b = make_bmp16(Bmp16Shape{w, h, m.red, m.green, m.blue, 66, 1 + f * 64 + (uint32_t)w});
            // White whatever the masks say, and black, in every picture.
            put_le16(b, 66, 0xFFFF);
            if (w > 1) put_le16(b, 68, 0x0000);
            char name[64];
            snprintf(name, sizeof name, "/f%02u-w%02d-h%d.bmp", f, w, h);
            ok &= write_case(dir + name, b);
        }
        ++f;
    }
    return ok;
}

int write_cuts(const std::string &dir) {
    int ok = make_folder(dir);
    const Bytes archive = small_archive(), bitmap = small_bitmap();
    for (size_t n = 0; n <= archive.size(); ++n)
        ok &= write_case(dir + "/archive-" + std::to_string(n), Bytes(archive.begin(), archive.begin() + n));
    for (size_t n = 0; n <= bitmap.size(); ++n)
        ok &= write_case(dir + "/bitmap-" + std::to_string(n), Bytes(bitmap.begin(), bitmap.begin() + n));
    return ok;
}

struct Poke {
    const char *name;
    size_t at;
    uint32_t value;
    int bytes;  // 2 or 4
};

// One copy of `image` for each poke, with that one field changed, as DIR/PREFIX-NAME.
template <size_t N>
int write_poked(const std::string &dir, const char *prefix, const Bytes &image, const Poke (&pokes)[N]) {
    int ok = 1;
    for (const Poke &p : pokes) {
        Bytes b = image;
        if (p.bytes == 2)
            put_le16(b, p.at, p.value);
        else
            put_le32(b, p.at, p.value);
        ok &= write_case(dir + "/" + prefix + "-" + p.name, b);
    }
    return ok;
}

int write_bad(const std::string &dir) {
    int ok = make_folder(dir);
    const Poke bitmap_pokes[] = {
        {"type-BA", 0, 0x4142, 2},           {"file-size-0", 2, 0, 4},
        {"file-size-1", 2, 1, 4},            {"file-size-huge", 2, 0xFFFFFFFF, 4},
        {"reserved-set", 6, 1, 2},           {"off-bits-0", 10, 0, 4},
        {"off-bits-65", 10, 65, 4},          {"off-bits-past-end", 10, 4096, 4},
        {"off-bits-huge", 10, 0x7FFFFFFF, 4}, {"info-size-12", 14, 12, 4},
        {"info-size-39", 14, 39, 4},         {"info-size-108", 14, 108, 4},
        {"info-size-124", 14, 124, 4},       {"width-0", 18, 0, 4},
        {"width-negative", 18, 0xFFFFFFFF, 4}, {"width-huge", 18, 0x7FFFFFFF, 4},
        {"width-65536", 18, 0x10000, 4},     {"height-0", 22, 0, 4},
        {"height-top-down", 22, 0xFFFFFFFD, 4}, {"height-huge", 22, 0x7FFFFFFF, 4},
        {"height-most-negative", 22, 0x80000000, 4}, {"height-65536", 22, 0x10000, 4},
        {"planes-0", 26, 0, 2},              {"planes-2", 26, 2, 2},
        {"bits-8", 28, 8, 2},                {"bits-15", 28, 15, 2},
        {"bits-24", 28, 24, 2},              {"bits-32", 28, 32, 2},
        {"compression-rgb", 30, 0, 4},       {"compression-rle8", 30, 1, 4},
        {"compression-6", 30, 6, 4},         {"image-size-huge", 34, 0xFFFFFFFF, 4},
        {"colours-used", 46, 256, 4},        {"red-mask-0", 54, 0, 4},
        {"green-mask-all", 58, 0xFFFFFFFF, 4}, {"blue-mask-high", 62, 0x80000000, 4},
    };
    const Bytes bitmap = small_bitmap();
    ok &= write_poked(dir, "bitmap", bitmap, bitmap_pokes);
    Bytes masks_zero = bitmap;
    for (size_t at = 54; at < 66; at += 4) put_le32(masks_zero, at, 0);
    ok &= write_case(dir + "/bitmap-masks-all-0", masks_zero);
    // 65536 x 65536 pixels: six bytes each make more than 32 bits.
    Bytes overflow = bitmap;
    put_le32(overflow, 18, 0x10000);
    put_le32(overflow, 22, 0x10000);
    ok &= write_case(dir + "/bitmap-size-overflows", overflow);

    // Archive directories: entry i's offset at 4 + 24 i, its size 4 later,
    // its 16-byte name 8 later.
    const Bytes archive = small_archive();
    const Poke archive_pokes[] = {
        {"count-0", 0, 0, 4},                     {"count-2-of-3", 0, 2, 4},
        {"count-4-of-3", 0, 4, 4},                {"count-most", 0, FPK_REFERENCE_COUNT_LIMIT, 4},
        {"count-above-most", 0, FPK_REFERENCE_COUNT_LIMIT + 1, 4},     {"count-2g", 0, 0x7FFFFFFF, 4},
        {"count-negative", 0, 0xFFFFFFFF, 4},     {"first-inside-directory", 4, 20, 4},
        {"first-past-end", 4, 4096, 4},           {"first-negative", 4, 0x80000000, 4},
        {"size-0", 8, 0, 4},                      {"size-past-end", 8, 1000, 4},
        {"size-negative", 8, 0x80000000, 4},      {"second-overlaps", 28, 80, 4},
        {"second-gap", 28, 90, 4},                {"last-size-past-end", 56, 100, 4},
        {"last-size-far-past-end", 56, 100000, 4},    {"name-blank", 12, 0x20, 2},
        {"name-empty", 12, 0, 2},                 {"name-high-byte", 36, 0xE9, 2},
        {"name-control", 60, 0x09, 2},
    };
    ok &= write_poked(dir, "archive", archive, archive_pokes);
    // Names that are valid bytes but no file a member may become, and a full
    // 16-byte name, which has no room for its end.
    const char *const names[][2] = {
        {"dot-dot", ".."},         {"climbs", "a/../b"},      {"climbs-back", "..\\up"},
        {"rooted-back", "\\rooted"}, {"rooted", "/rooted"},    {"drive", "C:drive"},
        {"device", "CON"},         {"device-ext", "nul.txt"}, {"port", "com1"},
        {"printer", "LPT9.dat"},   {"sub-folder", "docs/a.txt"}, {"sub-folder-back", "docs\\b.txt"},
        {"dots", "..."},           {"trailing-dot", "a."},    {"sixteen-bytes", "sixteen-bytes-ab"},
    };
    for (const auto &name : names) {
        Bytes b = make_fpk({{"first", pattern_bytes(4, 5)}, {name[1], pattern_bytes(6, 6)}});
        ok &= write_case(dir + "/archive-name-" + name[0], b);
    }
    ok &= write_case(dir + "/archive-same-names",
                     make_fpk({{"twin", pattern_bytes(3, 7)}, {"TWIN", pattern_bytes(4, 8)}, {"twin", pattern_bytes(5, 9)}}));
    ok &= write_case(dir + "/archive-gap-after-directory", make_fpk({{"x", pattern_bytes(9, 10)}}, 17));
    // 85 entries fill the probe's 2048 bytes, the 86th lies past them.
    for (uint32_t count : {85u, 86u, 90u}) {
        std::vector<FpkMember> many;
        for (uint32_t i = 0; i < count; ++i) many.push_back({"m" + std::to_string(i), pattern_bytes(1 + i % 5, 20 + i)});
        ok &= write_case(dir + "/archive-" + std::to_string(count) + "-members", make_fpk(many));
    }
    Bytes member_is_bitmap = make_fpk({{"picture.bmp", small_bitmap()}});
    ok &= write_case(dir + "/archive-holding-a-bitmap", member_is_bitmap);
    ok &= write_case(dir + "/empty", Bytes());
    ok &= write_case(dir + "/one-byte", Bytes(1, 1));
    ok &= write_case(dir + "/count-only", Bytes{1, 0, 0, 0});
    ok &= write_case(dir + "/empty-archive", Bytes{0, 0, 0, 0});
    return ok;
}

int write_names(const std::string &dir) {
    // Chinese, a German umlaut, a snowman and an emoji: no single code page
    // writes them all, so only the wide exports open these.
    const std::string folder = dir + "/\u5199\u771F \u00FC";
    int ok = make_folder(dir) && make_folder(folder);
    ok &= write_case(dir + "/\u540D\u524D \u00FC \U0001F600.fpk", small_archive());
    ok &= write_case(dir + "/\u03A9mega \u2603.bmp", small_bitmap());
    ok &= write_case(folder + "/\u6863\u6848.fpk", make_fpk({{"inner.txt", pattern_bytes(40, 11)}}));
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_cases DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    int ok = make_folder(dir);
    ok = ok && write_masks(dir + "/masks");
    ok = ok && write_cuts(dir + "/cut");
    ok = ok && write_bad(dir + "/bad");
    ok = ok && write_names(dir + "/names");
    return ok ? 0 : 1;
}
