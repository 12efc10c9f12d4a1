// Writes the seed corpora: valid archives and bitmaps of many shapes and the
// edge cases of both formats, each a small file named for what it holds.
//
//   make_corpus FOLDER    writes FOLDER/tolvane/seed-* and FOLDER/pellimor/seed-*
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bmp16_writer.h"
#include "fpk_writer.h"

namespace fs = std::filesystem;

namespace {

struct Seed {
    std::string name;
    Bytes bytes;
};

FpkMember member(const std::string &name, size_t size, uint32_t seed) {
    return FpkMember{name, pattern_bytes(size, seed)};
}

std::vector<Seed> archive_seeds() {
    std::vector<Seed> s;
    // Valid archives: member counts, sizes around the 32 progress steps, names.
    for (size_t size : {1, 5, 31, 32, 33, 100, 1000})
        s.push_back({"one-member-" + std::to_string(size), make_fpk({member("a.txt", size, (uint32_t)size)})});
    s.push_back({"three-members", make_fpk({member("a.txt", 10, 1), member("B.TXT", 64, 2), member("dir\\c.bin", 7, 3)})});
    s.push_back({"same-name-twice", make_fpk({member("x", 3, 1), member("x", 4, 2)})});
    s.push_back({"names-differ-in-case", make_fpk({member("abc.txt", 3, 1), member("ABC.TXT", 5, 2)})});
    s.push_back({"name-15-chars", make_fpk({member("fifteen-chars-x", 9, 4)})});
    s.push_back({"names-with-separators", make_fpk({member("sub/one", 4, 1), member("sub\\two", 4, 2), member("./three", 4, 3)})});
    s.push_back({"names-leaving-folder", make_fpk({member("..\\evil", 4, 1), member("\\root", 4, 2), member("c:x", 4, 3), member("a/../../b", 4, 4), member("...", 2, 5), member(".", 2, 6)})});
    s.push_back({"device-names", make_fpk({member("NUL", 4, 1), member("con.txt", 4, 2), member("sub/COM1.x", 4, 3), member("lpt9", 4, 4), member("COM0", 4, 5), member("console", 4, 6)})});
    s.push_back({"gap-after-directory", make_fpk({member("g1", 6, 1), member("g2", 6, 2)}, 40)});
    for (uint32_t n : {2u, 8u, 85u, 86u}) {
        std::vector<FpkMember> m;
        for (uint32_t i = 0; i < n; ++i) m.push_back(member("m" + std::to_string(i), 1 + i % 3, i));
        s.push_back({"members-" + std::to_string(n), make_fpk(m)});
    }
    {
        // Entry 100 of 200 broken: the probe passes, the listing fails.
        std::vector<FpkMember> m;
        for (uint32_t i = 0; i < 200; ++i) m.push_back(member("e" + std::to_string(i), 1, i));
        Bytes b = make_fpk(m);
        put_le32(b, 4 + 24 * 100 + 4, 0);
        s.push_back({"entry-100-of-200-broken", b});
    }
    Bytes base = make_fpk({member("one", 8, 1), member("two", 8, 2), member("three", 8, 3)});
    auto edit32 = [&](const std::string &name, size_t at, uint32_t v) {
        Bytes b = base;
        put_le32(b, at, v);
        s.push_back({name, b});
    };
    edit32("count-0", 0, 0);
    edit32("count-minus-1", 0, 0xFFFFFFFFu);
    edit32("count-largest", 0, FPK_REFERENCE_COUNT_LIMIT);
    edit32("count-too-large", 0, FPK_REFERENCE_COUNT_LIMIT + 1);
    edit32("count-claims-more", 0, 4);
    edit32("offset-exactly-directory", 4, 4 + 3 * 24);
    edit32("offset-one-short", 4, 3 + 3 * 24);
    edit32("offset-negative", 4, 0x80000000u);
    edit32("size-0-first", 8, 0);
    edit32("size-0-later", 4 + 24 + 4, 0);
    edit32("size-negative", 8, 0x80000000u);
    edit32("overlap", 4 + 24, 4 + 3 * 24 + 7);
    edit32("gap-between", 4 + 24, 4 + 3 * 24 + 9);
    {
        Bytes b = base;
        memcpy(&b[12], "sixteen-chars-xy", 16);
        s.push_back({"name-16-chars", b});
        b = base;
        memset(&b[12], 0, 16);
        s.push_back({"name-empty", b});
        b = base;
        b[13] = ' ';
        s.push_back({"name-with-blank", b});
        b = base;
        b[13] = (char)0x80;
        s.push_back({"name-high-byte", b});
        b = base;
        b[14] = 0;
        b[15] = 'z';
        s.push_back({"name-bytes-after-nul", b});
    }
    {
        // Members past the end of the file, and positions of 2 GiB and up.
        Bytes b = make_fpk({member("short", 4000, 1)});
        b.resize(200);
        s.push_back({"member-past-end", b});
        b = make_fpk({member("low", 4, 1), member("high", 4, 2)});
        put_le32(b, 4, 0x7FFFFFF0u);
        put_le32(b, 8, 0x20);
        put_le32(b, 4 + 24, 0x80000010u);
        s.push_back({"position-above-2gib", b});
        b = make_fpk({member("wrap1", 4, 1), member("wrap2", 4, 2)});
        put_le32(b, 4, 0x7FFFFFFFu);
        put_le32(b, 8, 0x7FFFFFFFu);
        put_le32(b, 4 + 24, 0xFFFFFFFEu);
        s.push_back({"offsets-wrap", b});
        b = make_fpk({member("huge", 1, 1)});
        put_le32(b, 8, 0x7FFFFFFFu);
        s.push_back({"member-claims-2gib", b});
        // Files that end inside a member: at its first byte, in its middle,
        // one byte short. The member before it is whole.
        Bytes whole = make_fpk({member("lead", 5, 1), member("cut", 100, 2)});
        const long cut_at = 4 + 2 * 24 + 5;
        s.push_back({"member-cut-at-first-byte", Bytes(whole.begin(), whole.begin() + cut_at)});
        s.push_back({"member-cut-in-middle", Bytes(whole.begin(), whole.begin() + cut_at + 50)});
        s.push_back({"member-one-byte-short", Bytes(whole.begin(), whole.end() - 1)});
    }
    {
        // Short files: zeros stand in for the missing bytes.
        Bytes b = make_fpk({member("abcdefghijklmno", 4, 1)});
        for (size_t n : {0, 1, 4, 12, 13, 20, 27, 28})
            s.push_back({"cut-at-" + std::to_string(n), Bytes(b.begin(), b.begin() + (long)n)});
        Bytes two = make_fpk({member("p", 4, 1), member("qrstuvw", 4, 2)});
        s.push_back({"cut-inside-last-name", Bytes(two.begin(), two.begin() + 4 + 24 + 8 + 3)});
    }
    return s;
}

std::vector<Seed> bitmap_seeds() {
    std::vector<Seed> s;
    auto add = [&](const std::string &name, const Bmp16Shape &shape) {
        s.push_back({name, make_bmp16(shape)});
    };
    for (int32_t w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 17})
        for (int32_t h : {1, 2, 3, 4})
            add("565-" + std::to_string(w) + "x" + std::to_string(h), bmp565(w, h, (uint32_t)(w * 10 + h)));
    add("565-gradient-32x8", bmp565(32, 8, 0));
    add("565-40x40", bmp565(40, 40, 7));
    struct Masks {
        const char *name;
        uint32_t r, g, b;
    } masks[] = {
        {"555", 0x7C00, 0x03E0, 0x001F}, {"444", 0x0F00, 0x00F0, 0x000F},
        {"zero-red", 0, 0x07E0, 0x001F}, {"all-zero", 0, 0, 0},
        {"above-bit-15", 0xF0000, 0x07E0, 0x001F}, {"gaps", 0x0101, 0x0A50, 0x8001},
        {"overlap", 0xFFFF, 0x0FF0, 0x00FF}, {"full-32", 0xFFFFFFFF, 0x80000000, 0x1},
        {"one-bit", 0x8000, 0x0400, 0x0001}, {"wide-8", 0xFF00, 0x00FF, 0x0FF0},
    };
    for (const Masks &m : masks)
        for (int32_t w : {3, 5}) add(std::string(m.name) + "-" + std::to_string(w) + "x3", Bmp16Shape{w, 3, m.r, m.g, m.b, 66, 11});
    add("offbits-54", Bmp16Shape{4, 2, 0xF800, 0x07E0, 0x001F, 54, 5});
    add("offbits-60", Bmp16Shape{4, 2, 0xF800, 0x07E0, 0x001F, 60, 5});
    add("offbits-70-gap", Bmp16Shape{5, 3, 0xF800, 0x07E0, 0x001F, 70, 5});
    add("offbits-colour-table", Bmp16Shape{6, 2, 0xF800, 0x07E0, 0x001F, 66 + 1024, 5});
    Bytes b = make_bmp16(bmp565(5, 4, 3));
    auto edit = [&](const std::string &name, size_t at, uint32_t v, int bytes) {
        Bytes c = b;
        if (bytes == 2) put_le16(c, at, (uint16_t)v);
        else put_le32(c, at, v);
        s.push_back({name, c});
    };
    edit("offbits-53", 10, 53, 4);
    edit("offbits-beyond-file", 10, 5000, 4);
    {
        Bytes c = b;
        put_le32(c, 10, 0x80000000u);
        put_le32(c, 2, 0xFFFFFFFFu);
        s.push_back({"offbits-2gib", c});
    }
    edit("bfsize-below-offbits", 2, 65, 4);
    edit("reserved1", 6, 1, 2);
    edit("reserved2", 8, 1, 2);
    edit("not-bm", 0, 0x4D43, 2);
    edit("bisize-12", 14, 12, 4);
    edit("bisize-108", 14, 108, 4);
    edit("bisize-124", 14, 124, 4);
    edit("width-0", 18, 0, 4);
    edit("width-negative", 18, 0xFFFFFFFFu, 4);
    edit("top-down", 22, 0xFFFFFFFCu, 4);
    edit("planes-2", 26, 2, 2);
    edit("bits-24", 28, 24, 2);
    edit("bi-rgb", 30, 0, 4);
    edit("width-overflows", 18, 0x7FFFFFFF, 4);
    {
        Bytes c = b;
        put_le32(c, 18, 0x10000);
        put_le32(c, 22, 0x10000);
        s.push_back({"size-overflows-32-bits", c});
        c = b;
        put_le32(c, 18, 30000);
        put_le32(c, 22, 30000);
        s.push_back({"size-above-block-limit", c});
        c = b;
        put_le32(c, 18, 3000);
        put_le32(c, 22, 1);
        s.push_back({"pixels-missing-wide", c});
    }
    {
        Bytes c = make_bmp16(bmp565(4, 4, 9));
        for (size_t i = 66; i + 1 < c.size(); i += 4) {
            put_le16(c, i, 0xFFFF);
            put_le16(c, i + 2, 0x0000);
        }
        s.push_back({"white-and-black", c});
    }
    Bytes cut = make_bmp16(bmp565(9, 4, 2));
    for (size_t n : {0, 1, 14, 30, 31, 34, 54, 60, 66, 80, 100})
        s.push_back({"cut-at-" + std::to_string(n), Bytes(cut.begin(), cut.begin() + (long)n)});
    return s;
}

int write_seeds(const fs::path &dir, const std::vector<Seed> &seeds) {
    fs::create_directories(dir);
    for (const Seed &seed : seeds) {
        if (!write_whole_file((dir / ("seed-" + seed.name)).string(), seed.bytes)) return 0;
    }
    printf("%s: %zu seeds\n", dir.string().c_str(), seeds.size());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_corpus FOLDER\n");
        return 2;
    }
    fs::path root(argv[1]);
    return write_seeds(root / "tolvane", archive_seeds()) &&
                   write_seeds(root / "pellimor", bitmap_seeds())
               ? 0
               : 1;
}
