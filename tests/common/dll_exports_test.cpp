// The built DLLs as a viewer meets them: their export and import tables read
// from the files, and each export called with the Windows API convention.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "bmp16_writer.h"
#include "fpk_writer.h"
#include "test_support.h"

namespace {

// The whole entry routine as the release build compiles it: TRUE, and back.
#if defined(__i386__)
const Bytes ENTRY_CODE = {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC2, 0x0C, 0x00};  // mov eax, 1; ret 12
constexpr uint16_t MACHINE = IMAGE_FILE_MACHINE_I386;
#else
const Bytes ENTRY_CODE = {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3};  // mov eax, 1; ret
constexpr uint16_t MACHINE = IMAGE_FILE_MACHINE_AMD64;
#endif

// One row per plug-in: the DLL, the exact names it must export (the five
// 8-bit exports and their wide siblings) and the exact functions it may
// import ("dll function"), the same in both forms.
struct DllRow {
    const char *plugin;
    const char *path;
    std::vector<std::string> exports;
    std::vector<std::string> imports;
    uint16_t machine = MACHINE;
    const Bytes *entry_code = &ENTRY_CODE;
    // A DLL of another machine, which this process cannot load, is read only
    // from its file; its description is that of the DLL named here.
    const char *description_from = nullptr;
};

const DllRow DLL_ROWS[] = {
    {"tolvane", SPI_TOLVANE_PATH, test_export_names(PLUGIN_ARCHIVE),
     {"kernel32.dll CloseHandle", "kernel32.dll CreateFileA", "kernel32.dll CreateFileW", "kernel32.dll GetLastError",
      "kernel32.dll LocalAlloc", "kernel32.dll LocalFree", "kernel32.dll LocalLock",
      "kernel32.dll LocalUnlock", "kernel32.dll ReadFile", "kernel32.dll SetEndOfFile",
      "kernel32.dll SetFilePointer", "kernel32.dll WriteFile", "msvcrt.dll _stricmp", "msvcrt.dll memcpy",
      "msvcrt.dll memset", "msvcrt.dll strchr", "msvcrt.dll strcmp", "msvcrt.dll strcpy", "msvcrt.dll strlen",
      "msvcrt.dll strspn", "msvcrt.dll toupper"}},
    {"pellimor", SPI_PELLIMOR_PATH, test_export_names(PLUGIN_IMAGE),
     {"kernel32.dll CloseHandle", "kernel32.dll CreateFileA", "kernel32.dll CreateFileW", "kernel32.dll GetLastError",
      "kernel32.dll IsProcessorFeaturePresent", "kernel32.dll LocalAlloc", "kernel32.dll LocalFree",
      "kernel32.dll LocalLock", "kernel32.dll LocalUnlock", "kernel32.dll ReadFile", "kernel32.dll SetFilePointer",
      "msvcrt.dll memcpy", "msvcrt.dll memset"}},
};

void PrintTo(const DllRow &row, std::ostream *os) { *os << row.plugin; }

// The rows of this process's machine and, beside the x64 ones, the same
// plug-ins built for ARM64 (.spha), read from their files: the winarm64 leg
// runs them. They import the same, but ask the processor nothing, as ARM64
// has only the scalar conversion.
std::vector<DllRow> dll_rows() {
    std::vector<DllRow> rows(std::begin(DLL_ROWS), std::end(DLL_ROWS));
#if defined(__x86_64__)
    static const Bytes ARM64_ENTRY_CODE = {0x20, 0x00, 0x80, 0x52, 0xC0, 0x03, 0x5F, 0xD6};  // mov w0, #1; ret
    const char *const arm64_paths[] = {SPI_TOLVANE_ARM64_PATH, SPI_PELLIMOR_ARM64_PATH};
    for (size_t i = 0; i < 2; ++i) {
        DllRow row = DLL_ROWS[i];
        row.plugin = i == 0 ? "tolvane_arm64" : "pellimor_arm64";
        row.path = arm64_paths[i];
        row.machine = IMAGE_FILE_MACHINE_ARM64;
        row.entry_code = &ARM64_ENTRY_CODE;
        row.description_from = DLL_ROWS[i].path;
        row.imports.erase(std::remove(row.imports.begin(), row.imports.end(), "kernel32.dll IsProcessorFeaturePresent"),
                          row.imports.end());
        rows.push_back(row);
    }
#endif
    return rows;
}

// A plug-in of its kind carries only itself.
constexpr size_t MOST_PLUGIN_BYTES = 32 * 1024;

constexpr uint32_t PE_SIGNATURE_AT = 0x3C;
constexpr uint32_t COFF_SECTIONS = 2;      // from the COFF header
constexpr uint32_t COFF_TIMESTAMP = 4;
constexpr uint32_t COFF_SYMBOL_TABLE = 8;
constexpr uint32_t COFF_SYMBOLS = 12;
constexpr uint32_t COFF_OPTIONAL_SIZE = 16;
constexpr uint32_t COFF_HEADER_SIZE = 20;
constexpr uint32_t OPTIONAL_ENTRY_POINT = 16;
constexpr uint16_t PE32_MAGIC = 0x10B;
constexpr uint16_t PE32_PLUS_MAGIC = 0x20B;
constexpr uint32_t PE32_DIRECTORIES = 96;  // data directories in the optional header
constexpr uint32_t PE32_PLUS_DIRECTORIES = 112;
constexpr uint32_t DIRECTORY_EXPORT = 0;
constexpr uint32_t DIRECTORY_IMPORT = 1;
constexpr uint32_t DIRECTORY_TLS = 9;
constexpr uint32_t DIRECTORY_COUNT = 16;
constexpr uint32_t SECTION_SIZE = 40;

struct PeImage {
    Bytes file;
    bool wide = false;  // PE32+: 64-bit import thunks
    uint32_t entry_rva = 0;
    uint32_t timestamp = 0;
    uint32_t symbols = 0;  // COFF symbol table: its position and its count
    uint16_t machine = 0;
    std::vector<uint32_t> section_rva, section_size, section_raw;
    uint32_t directory_rva[DIRECTORY_COUNT] = {};
    uint32_t directory_size[DIRECTORY_COUNT] = {};
};

uint32_t le32(const Bytes &b, size_t at) {
    if (at + 4 > b.size()) return 0;
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
uint16_t le16(const Bytes &b, size_t at) { return at + 2 > b.size() ? 0 : (uint16_t)(b[at] | b[at + 1] << 8); }

// File offset of an RVA, or 0 when no section holds it.
size_t file_at(const PeImage &pe, uint32_t rva) {
    for (size_t i = 0; i < pe.section_rva.size(); ++i)
        if (rva >= pe.section_rva[i] && rva - pe.section_rva[i] < pe.section_size[i])
            return pe.section_raw[i] + (rva - pe.section_rva[i]);
    return 0;
}

std::string string_at(const PeImage &pe, uint32_t rva) {
    size_t at = file_at(pe, rva);
    std::string s;
    while (at && at < pe.file.size() && pe.file[at]) s.push_back((char)pe.file[at++]);
    return s;
}

bool read_pe(const char *path, PeImage *pe) {
    pe->file = test_read_file(path);
    const Bytes &f = pe->file;
    if (f.size() < 64 || f[0] != 'M' || f[1] != 'Z') return false;
    uint32_t pe_at = le32(f, PE_SIGNATURE_AT);
    if (le32(f, pe_at) != 0x00004550) return false;  // "PE\0\0"
    uint32_t coff = pe_at + 4;
    pe->machine = le16(f, coff);
    uint16_t sections = le16(f, coff + COFF_SECTIONS);
    uint32_t optional = coff + COFF_HEADER_SIZE;
    uint16_t magic = le16(f, optional);
    uint32_t directories = optional + (magic == PE32_PLUS_MAGIC ? PE32_PLUS_DIRECTORIES : PE32_DIRECTORIES);
    if (magic != PE32_MAGIC && magic != PE32_PLUS_MAGIC) return false;
    pe->wide = magic == PE32_PLUS_MAGIC;
    pe->entry_rva = le32(f, optional + OPTIONAL_ENTRY_POINT);
    pe->timestamp = le32(f, coff + COFF_TIMESTAMP);
    pe->symbols = le32(f, coff + COFF_SYMBOL_TABLE) | le32(f, coff + COFF_SYMBOLS);
    for (uint32_t d = 0; d < DIRECTORY_COUNT; ++d) {
        pe->directory_rva[d] = le32(f, directories + 8 * d);
        pe->directory_size[d] = le32(f, directories + 8 * d + 4);
    }
    uint32_t table = optional + le16(f, coff + COFF_OPTIONAL_SIZE);
    for (uint32_t i = 0; i < sections; ++i) {
        uint32_t s = table + i * SECTION_SIZE;
        uint32_t virtual_size = le32(f, s + 8), raw_size = le32(f, s + 16);
        pe->section_rva.push_back(le32(f, s + 12));
        pe->section_size.push_back(std::max(virtual_size, raw_size));
        pe->section_raw.push_back(le32(f, s + 20));
    }
    return true;
}

class DllTables : public testing::TestWithParam<DllRow> {};

TEST_P(DllTables, ExactlyTheExportsAndImports) {
    const DllRow &row = GetParam();
    PeImage pe;
    ASSERT_TRUE(read_pe(row.path, &pe)) << row.path;
    EXPECT_EQ(pe.machine, row.machine) << "built for another machine";

    size_t exp = file_at(pe, pe.directory_rva[DIRECTORY_EXPORT]);
    ASSERT_NE(exp, 0u) << "no export table";
    uint32_t functions = le32(pe.file, exp + 20), names = le32(pe.file, exp + 24);
    uint32_t functions_rva = le32(pe.file, exp + 28), names_rva = le32(pe.file, exp + 32);
    // lld leaves the slots below its first ordinal empty; they export nothing.
    uint32_t filled = 0;
    for (uint32_t i = 0; i < functions; ++i) filled += le32(pe.file, file_at(pe, functions_rva) + 4 * i) != 0;
    EXPECT_EQ(filled, row.exports.size()) << "exports by ordinal only";
    std::vector<std::string> exported;
    for (uint32_t i = 0; i < names; ++i) exported.push_back(string_at(pe, le32(pe.file, file_at(pe, names_rva) + 4 * i)));
    for (const std::string &n : exported) EXPECT_EQ(n.find('@'), std::string::npos) << "decorated: " << n;
    std::sort(exported.begin(), exported.end());
    EXPECT_EQ(exported, row.exports);

    size_t imp = file_at(pe, pe.directory_rva[DIRECTORY_IMPORT]);
    ASSERT_NE(imp, 0u) << "no import table";
    const size_t thunk_size = pe.wide ? 8 : 4;
    std::vector<std::string> imported;
    for (size_t d = imp; le32(pe.file, d + 12) != 0; d += 20) {
        std::string dll = string_at(pe, le32(pe.file, d + 12));
        for (char &c : dll) c = (char)tolower((unsigned char)c);
        uint32_t lookup = le32(pe.file, d) ? le32(pe.file, d) : le32(pe.file, d + 16);
        size_t t = file_at(pe, lookup);
        ASSERT_NE(t, 0u) << dll << ": no lookup table";
        for (;; t += thunk_size) {
            uint64_t thunk = le32(pe.file, t) | (pe.wide ? (uint64_t)le32(pe.file, t + 4) << 32 : 0);
            if (thunk == 0) break;
            bool by_ordinal = thunk >> (8 * thunk_size - 1);
            // A name entry is a 2-byte hint, then the name.
            imported.push_back(dll + " " + (by_ordinal ? "by ordinal" : string_at(pe, (uint32_t)thunk + 2)));
        }
    }
    std::sort(imported.begin(), imported.end());
    EXPECT_EQ(imported, row.imports);
}

// Nothing runs in the host's process but the exports and an entry that
// answers TRUE: no runtime start-up, no callbacks on thread start or end.
TEST_P(DllTables, NoThreadStorageAndOnlyOurEntry) {
    const DllRow &row = GetParam();
    PeImage pe;
    ASSERT_TRUE(read_pe(row.path, &pe)) << row.path;
    EXPECT_EQ(pe.directory_rva[DIRECTORY_TLS], 0u) << "a TLS directory";
    EXPECT_EQ(pe.directory_size[DIRECTORY_TLS], 0u) << "a TLS directory";
    size_t entry = file_at(pe, pe.entry_rva);
    ASSERT_NE(entry, 0u) << "no entry point";
    const Bytes &code = *row.entry_code;
    ASSERT_LE(entry + code.size(), pe.file.size());
    EXPECT_EQ(Bytes(pe.file.begin() + entry, pe.file.begin() + entry + code.size()), code);
    // The shipped file is stripped; its symbols and debug information stay in the build.
    EXPECT_EQ(pe.symbols, 0u) << "a symbol table";
    // No clock in the header: two builds of one commit ship the same bytes.
    EXPECT_EQ(pe.timestamp, 0u) << "the header carries a link time";
    EXPECT_LE(pe.file.size(), MOST_PLUGIN_BYTES);
}

// A string from the version resource's US English block; empty when absent.
std::string version_string(const Bytes &info, const char *name) {
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    char *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), key.c_str(), (void **)&value, &length) || !value) return "";
    return value;
}

// What a user sees in the file's properties: this build's version, the file's
// own name, and the description the plug-in gives its host.
TEST_P(DllTables, VersionResourceNamesThisBuild) {
    const DllRow &row = GetParam();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(row.path, &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    Bytes info(size);
    ASSERT_TRUE(GetFileVersionInfoA(row.path, 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &length));
    ASSERT_EQ(length, sizeof *fixed);
    uint32_t major = 0, minor = 0, patch = 0;
    ASSERT_EQ(sscanf(SPI_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(fixed->dwSignature, (DWORD)VS_FFI_SIGNATURE);
    EXPECT_EQ(fixed->dwFileVersionMS, major << 16 | minor);
    EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
    EXPECT_EQ(fixed->dwProductVersionMS, major << 16 | minor);
    EXPECT_EQ(fixed->dwProductVersionLS, patch << 16);
    EXPECT_EQ(fixed->dwFileType, (DWORD)VFT_DLL);
    EXPECT_EQ(version_string(info, "FileVersion"), SPI_VERSION);
    EXPECT_EQ(version_string(info, "ProductVersion"), SPI_VERSION);
    std::string path = row.path;
    EXPECT_EQ(version_string(info, "OriginalFilename"), path.substr(path.find_last_of('\\') + 1));
    EXPECT_NE(version_string(info, "CompanyName"), "");
    EXPECT_NE(version_string(info, "LegalCopyright"), "");

    LoadedPlugin p = test_load_plugin(row.description_from ? row.description_from : row.path);
    ASSERT_NE(p.module, nullptr);
    char description[256] = "";
    EXPECT_GT(p.get_plugin_info(1, description, sizeof description), 0);
    plugin_unload(&p);
    // The description is the interface's fixed text, "ver0.01" whatever the
    // release; the release is in the version numbers above.
    EXPECT_EQ(version_string(info, "FileDescription"), description);
}

// Free thread-local-storage indexes in this process: taken until none is left,
// then all given back.
size_t free_tls_indexes() {
    std::vector<DWORD> taken;
    for (DWORD i; (i = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(i);
    for (DWORD i : taken) TlsFree(i);
    return taken.size();
}

// A viewer that loads a plug-in for each file it opens: load, take one
// picture or one member out of memory, unload.
void load_use_unload(const char *path, const Bytes &picture, const Bytes &archive) {
    LoadedPlugin p = test_load_plugin(path);
    ASSERT_NE(p.module, nullptr);
    HLOCAL info = nullptr, bits = nullptr;
    if (p.get_picture) {
        ASSERT_EQ(p.get_picture((const char *)picture.data(), (LONG_PTR)picture.size(), SOURCE_MEMORY,
                                &info, &bits, nullptr, 0), RESULT_OK);
        LocalFree(info);
    } else {
        ASSERT_EQ(p.get_file((const char *)archive.data(), (LONG_PTR)archive.size(), (char *)&bits,
                             SOURCE_MEMORY | DEST_MEMORY, nullptr, 0), RESULT_OK);
    }
    LocalFree(bits);
    plugin_unload(&p);
}

// A host loses nothing to a plug-in it loads and unloads again: an index lost
// per file would end such a viewer after about a thousand pictures.
class DllLoading : public DllTables {};  // the rows this process loads

TEST_P(DllLoading, LoadUseUnloadLeavesEveryTlsIndexFree) {
    const Bytes picture = make_bmp16(16, 1, MASKS_565, random_pixels(16, 1));
    const Bytes archive = make_fpk(make_members(1));
    size_t before = free_tls_indexes();
    ASSERT_GT(before, 0u);
    for (int cycle = 0; cycle < 64 && !testing::Test::HasFailure(); ++cycle)
        load_use_unload(GetParam().path, picture, archive);
    EXPECT_EQ(free_tls_indexes(), before);
}

INSTANTIATE_TEST_SUITE_P(Plugins, DllTables, testing::ValuesIn(dll_rows()),
                         [](const testing::TestParamInfo<DllRow> &i) { return std::string(i.param.plugin); });
INSTANTIATE_TEST_SUITE_P(Plugins, DllLoading, testing::ValuesIn(DLL_ROWS),
                         [](const testing::TestParamInfo<DllRow> &i) { return std::string(i.param.plugin); });

#if defined(__i386__)
// Calls fn(args[0], ..., args[n - 1]) with arguments pushed right to left and
// reports how far the stack pointer moved across the call: 0 when the callee
// removed its arguments as the Windows API convention says, -4 * n when it
// left them (the C convention).
extern "C" int32_t stdcall_probe(void *fn, const uint32_t *args, uint32_t n, int32_t *moved);
__asm__(
    ".text\n"
    ".globl _stdcall_probe\n"
    "_stdcall_probe:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 16(%ebp), %ecx\n"         // n
    "  movl 12(%ebp), %esi\n"         // args
    "  leal (,%ecx,4), %eax\n"
    "  movl %esp, %edi\n"
    "  subl %eax, %edi\n"
    "  andl $-16, %edi\n"             // the arguments start 16-byte aligned
    "  addl %eax, %edi\n"             // %edi: the stack pointer before the pushes
    "  movl %edi, %esp\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *8(%ebp)\n"
    "  movl %esp, %ecx\n"
    "  subl %edi, %ecx\n"
    "  movl 20(%ebp), %edx\n"
    "  movl %ecx, (%edx)\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");

int32_t __attribute__((stdcall)) callee_removes(int32_t a, int32_t b) { return a - b; }
int32_t __attribute__((cdecl)) caller_removes(int32_t a, int32_t b) { return a - b; }

TEST(DllConvention, ProbeTellsTheConventionsApart) {
    const uint32_t args[] = {9, 4};
    int32_t moved = 12345;
    EXPECT_EQ(stdcall_probe((void *)&callee_removes, args, 2, &moved), 5);
    EXPECT_EQ(moved, 0);
    EXPECT_EQ(stdcall_probe((void *)&caller_removes, args, 2, &moved), 5);
    EXPECT_EQ(moved, -8);
}

struct StdcallRow {
    const char *name;
    std::vector<uint32_t> args;
    int32_t result;
};

// Calls each row's export through the probe: its answer, and its arguments
// gone from the stack.
void expect_arguments_removed(const LoadedPlugin *p, const StdcallRow *rows, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const StdcallRow &row = rows[i];
        void *fn = plugin_symbol(p, row.name);
        ASSERT_NE(fn, nullptr) << row.name;
        int32_t moved = 12345;
        EXPECT_EQ(stdcall_probe(fn, row.args.data(), (uint32_t)row.args.size(), &moved), row.result) << row.name;
        EXPECT_EQ(moved, 0) << row.name << " did not remove its " << row.args.size() * 4 << " bytes of arguments";
    }
}

TEST(DllConvention, TolvaneExportsRemoveTheirArguments) {
    LoadedPlugin p = test_load_tolvane();
    ASSERT_NE(p.module, nullptr);
    // A one-member archive in memory.
    static const uint8_t archive[] = {1, 0, 0, 0, 28, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0, 0,
                                      0, 0, 0, 0, 0, 0, 0, 0, 7, 8};
    static uint8_t probe[PROBE_BUFFER_SIZE];
    memcpy(probe, archive, sizeof archive);
    char buf[16];
    char16_t wide_buf[16];
    HLOCAL list = nullptr, member = nullptr, wide_list = nullptr, wide_member = nullptr;
    FileInfoRecord record;
    FileInfoRecordW wide_record;
    auto u = [](const void *ptr) { return (uint32_t)(uintptr_t)ptr; };
    const StdcallRow rows[] = {
        {"GetPluginInfo", {0, u(buf), sizeof buf}, 4},
        {"IsSupported", {u("a.fpk"), u(probe)}, 1},
        {"GetArchiveInfo", {u(archive), sizeof archive, SOURCE_MEMORY, u(&list)}, RESULT_OK},
        {"GetFileInfo", {u(archive), sizeof archive, u("a"), SOURCE_MEMORY, u(&record)}, RESULT_OK},
        {"GetFile", {u(archive), sizeof archive, u(&member), SOURCE_MEMORY | DEST_MEMORY, 0, 0}, RESULT_OK},
        {"GetPluginInfoW", {0, u(wide_buf), 16}, 4},
        {"IsSupportedW", {u(u"a.fpk"), u(probe)}, 1},
        {"GetArchiveInfoW", {u(archive), sizeof archive, SOURCE_MEMORY, u(&wide_list)}, RESULT_OK},
        {"GetFileInfoW", {u(archive), sizeof archive, u(u"a"), SOURCE_MEMORY, u(&wide_record)}, RESULT_OK},
        {"GetFileW", {u(archive), sizeof archive, u(&wide_member), SOURCE_MEMORY | DEST_MEMORY, 0, 0}, RESULT_OK},
    };
    expect_arguments_removed(&p, rows, sizeof rows / sizeof rows[0]);
    EXPECT_EQ(test_take_block(list).size(), 2 * sizeof(FileInfoRecord));
    EXPECT_EQ(test_take_block(member).size(), 30u);
    EXPECT_EQ(test_take_block(wide_list).size(), 2 * sizeof(FileInfoRecordW));
    EXPECT_EQ(test_take_block(wide_member).size(), 30u);
    EXPECT_EQ(wide_record.file_name[0], u'a');
    plugin_unload(&p);
}

TEST(DllConvention, PellimorExportsRemoveTheirArguments) {
    LoadedPlugin p = test_load_pellimor();
    ASSERT_NE(p.module, nullptr);
    Bytes bmp = make_bmp16(3, 2, MASKS_565, random_pixels(6, 1));
    static uint8_t probe[PROBE_BUFFER_SIZE];
    memcpy(probe, bmp.data(), bmp.size());
    char buf[16];
    char16_t wide_buf[16];
    PictureInfoRecord record, wide_record;
    HLOCAL blocks[8] = {};
    auto u = [](const void *ptr) { return (uint32_t)(uintptr_t)ptr; };
    uint32_t at = u(bmp.data()), size = (uint32_t)bmp.size();
    const StdcallRow rows[] = {
        {"GetPluginInfo", {0, u(buf), sizeof buf}, 4},
        {"IsSupported", {u("a.bmp"), u(probe)}, 1},
        {"GetPictureInfo", {at, size, SOURCE_MEMORY, u(&record)}, RESULT_OK},
        {"GetPreview", {at, size, SOURCE_MEMORY, u(&blocks[0]), u(&blocks[1]), 0, 0}, RESULT_NOT_SUPPORTED},
        {"GetPicture", {at, size, SOURCE_MEMORY, u(&blocks[2]), u(&blocks[3]), 0, 0}, RESULT_OK},
        {"GetPluginInfoW", {0, u(wide_buf), 16}, 4},
        {"IsSupportedW", {u(u"a.bmp"), u(probe)}, 1},
        {"GetPictureInfoW", {at, size, SOURCE_MEMORY, u(&wide_record)}, RESULT_OK},
        {"GetPreviewW", {at, size, SOURCE_MEMORY, u(&blocks[4]), u(&blocks[5]), 0, 0}, RESULT_NOT_SUPPORTED},
        {"GetPictureW", {at, size, SOURCE_MEMORY, u(&blocks[6]), u(&blocks[7]), 0, 0}, RESULT_OK},
    };
    expect_arguments_removed(&p, rows, sizeof rows / sizeof rows[0]);
    for (HLOCAL b : {blocks[2], blocks[3], blocks[6], blocks[7]}) EXPECT_FALSE(test_take_block(b).empty());
    EXPECT_EQ(wide_record.width, 3);
    plugin_unload(&p);
}
#endif

}  // namespace
