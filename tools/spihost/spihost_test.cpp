// spihost end to end: the sample files are made by make_samples, spihost
// drives the native plug-ins over them, and what it writes is compared with
// what this test works out from the sample files on its own. The 64-bit
// Windows build runs the cases that need no sample files, spihost.exe and
// the .sph plug-ins under Wine.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "fpk_writer.h"

struct HostRun {
    int status;
    std::string output;  // stdout and stderr together
};

static HostRun run(const std::string &args) {
    std::string command = std::string(SPIHOST_PATH) + " " + args + " 2>&1";
    HostRun r = {-1, ""};
#ifdef _WIN32
    FILE *pipe = _popen(command.c_str(), "r");
#else
    FILE *pipe = popen(command.c_str(), "r");
#endif
    if (!pipe) return r;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) r.output.append(chunk, n);
#ifdef _WIN32
    r.status = _pclose(pipe);
#else
    int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return r;
}

// A fresh, empty folder, without the sample files.
static std::string make_folder() {
    static unsigned counter = 0;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        std::filesystem::path dir = base / ("spihost_test_" + std::to_string((unsigned)time(nullptr)) +
                                            "_" + std::to_string(counter++));
        std::error_code ec;
        if (std::filesystem::create_directory(dir, ec)) return dir.string();
    }
}

static Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names no member may be written under, one row each, and one it may: an
// archive holding them all is extracted, through the plug-in and in memory.
// Each refused name is named in the output and nothing is written for it,
// inside the folder or out of it (on Windows NUL, CON and COM1 are devices).
TEST(SpihostArchive, KeepsMembersInsideTheOutputFolder) {
    struct Row {
        const char *name;
        const char *written;  // where it lands below the folder; null: refused
    } rows[] = {
        {"..\\up.txt", nullptr}, {"..\\x", nullptr}, {"NUL", nullptr},
        {"CON", nullptr},        {"COM1", nullptr},    {"sub/in.txt", "sub/in.txt"},
    };
    std::string dir = make_folder();
    std::vector<FpkMember> members;
    for (const Row &row : rows) members.push_back({row.name, pattern_bytes(3, (uint32_t)members.size())});
    std::string fpk = (std::filesystem::path(dir) / "crafted.fpk").string();
    Bytes image = make_fpk(members);
    std::ofstream(fpk, std::ios::binary).write((const char *)image.data(), (std::streamsize)image.size());
    for (const char *via : {"", " --memory"}) {
        std::filesystem::path out = std::filesystem::path(dir) / (via[0] ? "out_memory" : "out_file");
        HostRun r = run(std::string("extract ") + TOLVANE_PATH + " " + fpk + " --to " + out.string() + via);
        EXPECT_EQ(r.status, 1) << via << "\n" << r.output;
        EXPECT_NE(r.output.find("5 of 6 members were not extracted"), std::string::npos) << r.output;
        std::set<std::string> expected = {"sub", "sub/in.txt"}, found;
        for (size_t i = 0; i < members.size(); ++i) {
            std::string said = std::string("member ") + rows[i].name +
                               (via[0] ? ": the name would leave" : ": result 8 (internal error)");
            if (!rows[i].written)
                EXPECT_NE(r.output.find(said), std::string::npos) << said << "\n" << r.output;
            else
                EXPECT_EQ(read_file((out / rows[i].written).string()), members[i].data) << via;
        }
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(out, ec);
             it != std::filesystem::recursive_directory_iterator(); ++it)
            found.insert(it->path().lexically_relative(out).generic_string());
        EXPECT_EQ(found, expected) << via;
    }
    // Nothing climbed out: the folder holds the archive and the two outputs.
    std::set<std::string> top;
    for (const auto &e : std::filesystem::directory_iterator(dir)) top.insert(e.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"crafted.fpk", "out_file", "out_memory"}));
    std::filesystem::remove_all(dir);  // kept when an assertion stops the test
}

#ifndef _WIN32
// The rest drives the native build over the sample files make_samples writes.

static uint32_t le32(const Bytes &b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

static uint16_t le16(const Bytes &b, size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); }

static void put32(Bytes *b, uint32_t v) {
    for (int i = 0; i < 4; i++) b->push_back((uint8_t)(v >> (8 * i)));
}

// One fresh folder holding the samples, per test.
static std::string make_samples() {
    char dir[] = "/tmp/spihost_test_XXXXXX";
    if (!mkdtemp(dir)) return "";
    std::string command = std::string(MAKE_SAMPLES_PATH) + " " + dir + " >/dev/null";
    if (system(command.c_str()) != 0) return "";
    return dir;
}

struct Member {
    std::string name;
    uint32_t offset;
    uint32_t size;
};

// The sample archive's directory, read straight from its bytes.
static std::vector<Member> fpk_members(const Bytes &fpk) {
    std::vector<Member> members;
    uint32_t count = le32(fpk, 0);
    for (uint32_t i = 0; i < count; i++) {
        size_t at = 4 + 24 * i;
        std::string name((const char *)&fpk[at + 8], 16);
        members.push_back({name.substr(0, name.find('\0')), le32(fpk, at), le32(fpk, at + 4)});
    }
    return members;
}

// The 24-bit BMP file a decoder should make of a 16-bit bit-field bitmap:
// each channel's bits repeated from bit 7 downwards, 0 black, 0xFFFF white.
static Bytes expected_bmp24(const Bytes &in) {
    uint32_t width = le32(in, 18), height = le32(in, 22);
    uint32_t masks[3] = {le32(in, 54), le32(in, 58), le32(in, 62)};
    uint32_t in_stride = (width * 2 + 3) / 4 * 4, out_stride = (width * 3 + 3) / 4 * 4;
    Bytes out = {'B', 'M'};
    put32(&out, 14 + 40 + out_stride * height);
    put32(&out, 0);
    put32(&out, 14 + 40);
    put32(&out, 40);
    put32(&out, width);
    put32(&out, height);
    out.push_back(1), out.push_back(0), out.push_back(24), out.push_back(0);
    put32(&out, 0);
    put32(&out, out_stride * height);  // biSizeImage
    for (int i = 0; i < 4; i++) put32(&out, 0);
    for (uint32_t y = 0; y < height; y++) {
        for (uint32_t x = 0; x < width; x++) {
            uint32_t p = le16(in, 66 + y * in_stride + x * 2);
            for (int c = 2; c >= 0; c--) {
                int low = 0, high = 31;
                while (!(masks[c] >> low & 1)) low++;
                while (!(masks[c] >> high & 1)) high--;
                int bits = high - low + 1;
                uint32_t v = (p & masks[c]) >> low;
                uint8_t byte = 0;
                for (int k = 0; k < 8; k++)
                    if (v >> (bits - 1 - k % bits) & 1) byte |= (uint8_t)(0x80 >> k);
                out.push_back(p == 0 ? 0 : p == 0xFFFF ? 255 : byte);
            }
        }
        for (uint32_t pad = width * 3; pad < out_stride; pad++) out.push_back(0);
    }
    return out;
}

TEST(SpihostArchive, ListsAndExtractsEveryMemberByteForByte) {
    std::string dir = make_samples();
    ASSERT_FALSE(dir.empty());
    std::string fpk = dir + "/sample.fpk";
    Bytes archive = read_file(fpk);
    std::vector<Member> members = fpk_members(archive);
    ASSERT_EQ(members.size(), 4u);

    HostRun list = run(std::string("list ") + TOLVANE_PATH + " " + fpk);
    ASSERT_EQ(list.status, 0) << list.output;
    std::vector<Member> listed;
    size_t at = list.output.find('\n') + 1;  // past the column titles
    for (size_t i = 0; i < members.size(); i++, at = list.output.find('\n', at) + 1) {
        char name[200];
        unsigned offset, size;
        if (sscanf(list.output.c_str() + at, "%199s %u %u", name, &offset, &size) == 3)
            listed.push_back({name, offset, size});
    }
    ASSERT_EQ(listed.size(), members.size()) << list.output;
    for (size_t i = 0; i < members.size(); i++) {
        EXPECT_EQ(listed[i].name, members[i].name);
        EXPECT_EQ(listed[i].offset, members[i].offset);
        EXPECT_EQ(listed[i].size, members[i].size);
    }

    HostRun to_files = run(std::string("extract ") + TOLVANE_PATH + " " + fpk + " --to " + dir + "/files");
    ASSERT_EQ(to_files.status, 0) << to_files.output;
    HostRun to_memory = run(std::string("extract ") + TOLVANE_PATH + " " + fpk + " --memory --to " +
                        dir + "/memory");
    ASSERT_EQ(to_memory.status, 0) << to_memory.output;
    for (const Member &m : members) {
        Bytes expected(archive.begin() + m.offset, archive.begin() + m.offset + m.size);
        EXPECT_EQ(read_file(dir + "/files/" + m.name), expected) << m.name;
        EXPECT_EQ(read_file(dir + "/memory/" + m.name), expected) << m.name;
    }

    const Member &third = members[2];
    HostRun one = run(std::string("extract ") + TOLVANE_PATH + " " + fpk + " " + third.name +
                  " --memory --to " + dir + "/one");
    ASSERT_EQ(one.status, 0) << one.output;
    EXPECT_EQ(read_file(dir + "/one/" + third.name),
              Bytes(archive.begin() + third.offset, archive.begin() + third.offset + third.size));
    EXPECT_TRUE(read_file(dir + "/one/" + members[0].name).empty());
    std::filesystem::remove_all(dir);  // kept when an assertion stops the test
}

TEST(SpihostArchive, FailuresGiveTheCodeAndANonZeroExit) {
    std::string dir = make_samples();
    ASSERT_FALSE(dir.empty());
    std::string fpk = dir + "/sample.fpk";
    // Cut inside its third member (numbers.txt, 692 bytes at 229), as a download cut short.
    std::string cut = dir + "/cut.fpk";
    Bytes archive = read_file(fpk);
    std::ofstream(cut, std::ios::binary).write((const char *)archive.data(), 575);
    struct Case {
        std::string args;
        int status;
        const char *said;
    } cases[] = {
        {"extract " TOLVANE_PATH " " + cut + " --to " + dir + "/cut", 1,
         "member numbers.txt: result 6 (read error): the archive is damaged: the member runs past "
         "the end of the file (692 bytes from position 229, but the file ends at 575)"},
        {"extract " TOLVANE_PATH " " + cut + " --memory --to " + dir + "/cut_memory", 1,
         "2 of 4 members were not extracted"},
        {"list " TOLVANE_PATH " " + dir + "/gradient565.bmp", 1, "result 2 (unknown format)"},
        {"list " TOLVANE_PATH " " + dir + "/missing.fpk", 1, "result 6 (read error)"},
        {"extract " TOLVANE_PATH " " + fpk + " nothing.txt --to " + dir, 1,
         "result 6 (read error)"},
        {"list " TOLVANE_PATH " " + fpk + " --offset 1", 1, "result 2 (unknown format)"},
        {"list " TOLVANE_PATH, 2, "usage:"},
        {"extract " TOLVANE_PATH " " + fpk, 2, "--to"},
        {"list " TOLVANE_PATH " " + fpk + " --offset -4", 2, "usage:"},
        {"list " + dir + "/no-such-plugin.so " + fpk, 1, "cannot load"},
        {"picture " TOLVANE_PATH " " + fpk, 1, "no GetPictureInfo export"},
    };
    // The same through the wide exports and through the 8-bit ones.
    for (const char *set : {"", " --ansi"}) {
        for (const Case &c : cases) {
            HostRun r = run(c.args + set);
            EXPECT_EQ(r.status, c.status) << c.args << set << "\n" << r.output;
            EXPECT_NE(r.output.find(c.said), std::string::npos) << c.args << set << "\n" << r.output;
        }
    }
    // The members before the cut are extracted whole, the cut one not at all.
    for (const char *out : {"/cut/", "/cut_memory/"}) {
        EXPECT_EQ(read_file(dir + out + "hello.txt"), Bytes(archive.begin() + 198, archive.begin() + 229));
        EXPECT_FALSE(std::filesystem::exists(dir + out + "numbers.txt")) << out;
    }
    std::filesystem::remove_all(dir);  // kept when an assertion stops the test
}

// A path as one shell word.
static std::string shell_word(const std::string &path) { return "'" + path + "'"; }

// Names beyond ASCII, in folders and files alike, reach the plug-in and the
// output files whole through either set of exports; a name that is not
// UTF-8 has no UTF-16 form, so only the 8-bit exports take it.
TEST(SpihostArchive, UnicodePathsThroughEitherSet) {
    std::string dir = make_samples();
    ASSERT_FALSE(dir.empty());
    std::string folder = dir + "/\u56FE\u50CF \U0001F600 \u00FC";  // 图像 😀 ü
    std::string fpk = folder + "/\u6863\u6848.fpk";                 // 档案.fpk
    std::string bmp = folder + "/\u5199\u771F.bmp";                 // 写真.bmp
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(dir + "/sample.fpk", fpk);
    std::filesystem::copy_file(dir + "/gradient565.bmp", bmp);
    std::filesystem::copy_file(dir + "/sample.fpk", dir + "/\xFF.fpk");
    Bytes archive = read_file(fpk);
    std::vector<Member> members = fpk_members(archive);
    struct Set {
        const char *option;
        const char *exports;  // what info says
        int takes_non_utf8;
    } sets[] = {{"", "exports      wide (UTF-16 names)", 0}, {" --ansi", "exports      8-bit (--ansi)", 1}};
    for (const Set &set : sets) {
        for (const char *plugin : {TOLVANE_PATH, PELLIMOR_PATH}) {
            HostRun info = run(std::string("info ") + plugin + set.option);
            EXPECT_EQ(info.status, 0) << info.output;
            EXPECT_NE(info.output.find(set.exports), std::string::npos) << info.output;
        }
        HostRun list = run(std::string("list ") + TOLVANE_PATH + " " + shell_word(fpk) + set.option);
        EXPECT_EQ(list.status, 0) << list.output;
        EXPECT_NE(list.output.find("numbers.txt        229        692"), std::string::npos) << list.output;
        for (const char *via : {"", " --memory"}) {
            std::string out = folder + "/\u51FA\u529B \u00FC" + set.option + via;  // 出力 ü
            HostRun r = run(std::string("extract ") + TOLVANE_PATH + " " + shell_word(fpk) + " --to " +
                            shell_word(out) + set.option + via);
            EXPECT_EQ(r.status, 0) << r.output;
            for (const Member &m : members)
                EXPECT_EQ(read_file(out + "/" + m.name),
                          Bytes(archive.begin() + m.offset, archive.begin() + m.offset + m.size))
                    << out << "/" << m.name;
        }
        for (const char *via : {"", " --memory"}) {
            std::string out = folder + "/\u7D50\u679C" + set.option + via + ".bmp";  // 結果
            HostRun r = run(std::string("decode ") + PELLIMOR_PATH + " " + shell_word(bmp) + " " +
                            shell_word(out) + set.option + via);
            EXPECT_EQ(r.status, 0) << r.output;
            EXPECT_EQ(read_file(out), expected_bmp24(read_file(bmp))) << out;
        }
        HostRun bytes = run(std::string("list ") + TOLVANE_PATH + " " + shell_word(dir + "/\xFF.fpk") + set.option);
        EXPECT_EQ(bytes.status, set.takes_non_utf8 ? 0 : 1) << bytes.output;
        EXPECT_NE(bytes.output.find(set.takes_non_utf8 ? "4 members" : "is not UTF-8"), std::string::npos)
            << bytes.output;
    }
    std::filesystem::remove_all(dir);  // kept when an assertion stops the test
}

TEST(SpihostPicture, DecodesBothSamplesToTheExpected24BitFile) {
    std::string dir = make_samples();
    ASSERT_FALSE(dir.empty());
    for (const char *name : {"gradient565", "gradient555"}) {
        std::string bmp = dir + "/" + name + ".bmp";
        Bytes expected = expected_bmp24(read_file(bmp));
        char dims[64];
        snprintf(dims, sizeof dims, "width %u, height %u, depth 16 bits", le32(expected, 18),
                 le32(expected, 22));
        HostRun picture = run(std::string("picture ") + PELLIMOR_PATH + " " + bmp);
        EXPECT_EQ(picture.status, 0) << picture.output;
        EXPECT_NE(picture.output.find(dims), std::string::npos) << picture.output;

        for (const char *via : {"", " --memory"}) {
            std::string out = dir + "/" + name + (via[0] ? "_memory" : "_file") + ".bmp";
            HostRun decode = run(std::string("decode ") + PELLIMOR_PATH + " " + bmp + " " + out + via);
            ASSERT_EQ(decode.status, 0) << decode.output;
            EXPECT_EQ(read_file(out), expected) << out;
        }
    }
    HostRun wrong = run(std::string("decode ") + PELLIMOR_PATH + " " + dir + "/sample.fpk " + dir +
                    "/x.bmp");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.output.find("result 2 (unknown format)"), std::string::npos) << wrong.output;
    HostRun probe = run(std::string("probe ") + PELLIMOR_PATH + " " + dir + "/gradient555.bmp");
    EXPECT_EQ(probe.status, 0) << probe.output;
    EXPECT_NE(probe.output.find("by handle: 1 (supported)"), std::string::npos) << probe.output;
    std::filesystem::remove_all(dir);  // kept when an assertion stops the test
}
#endif
