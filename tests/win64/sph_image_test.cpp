// The .sph files as a 64-bit viewer loads them: x86-64 PE32+ DLLs named
// NAME.sph, exporting exactly the five plain names and their wide siblings,
// and importing only the system's DLLs. Read from the headers of the image the loader mapped.
#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

struct SphRow {
    const char *plugin;
    const char *path;
    const char *library_name;  // the name the export table gives the DLL
    std::vector<std::string> exports;  // sorted
};

const SphRow SPH_ROWS[] = {
    {"tolvane", SPI_TOLVANE_PATH, "tolvane.sph", test_export_names(PLUGIN_ARCHIVE)},
    {"pellimor", SPI_PELLIMOR_PATH, "pellimor.sph", test_export_names(PLUGIN_IMAGE)},
};

const std::set<std::string> SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"};

std::string lower(std::string s) {
    for (char &c : s) c = (char)tolower((unsigned char)c);
    return s;
}

class SphImage : public ::testing::TestWithParam<SphRow> {};

TEST_P(SphImage, IsA64BitDllWithThePlainAndWideExports) {
    const SphRow &row = GetParam();
    std::string path = row.path;
    ASSERT_GE(path.size(), 4u);
    EXPECT_EQ(lower(path.substr(path.size() - 4)), ".sph");

    LoadedPlugin p = test_load_plugin(row.path);
    ASSERT_NE(p.module, nullptr);
    const uint8_t *base = (const uint8_t *)p.module;
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)base;
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    const IMAGE_NT_HEADERS64 *nt = (const IMAGE_NT_HEADERS64 *)(base + dos->e_lfanew);
    ASSERT_EQ(nt->Signature, (DWORD)IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_NE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL, 0);
    ASSERT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);

    const IMAGE_DATA_DIRECTORY &exp_dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(exp_dir.VirtualAddress, 0u) << "no export table";
    const IMAGE_EXPORT_DIRECTORY *exp = (const IMAGE_EXPORT_DIRECTORY *)(base + exp_dir.VirtualAddress);
    EXPECT_STREQ((const char *)(base + exp->Name), row.library_name);
    EXPECT_EQ(exp->NumberOfFunctions, row.exports.size()) << "exports by ordinal only";
    const DWORD *names = (const DWORD *)(base + exp->AddressOfNames);
    std::vector<std::string> exported;
    for (DWORD i = 0; i < exp->NumberOfNames; ++i) exported.push_back((const char *)(base + names[i]));
    std::sort(exported.begin(), exported.end());
    EXPECT_EQ(exported, row.exports);
    for (const std::string &name : row.exports)
        EXPECT_NE(plugin_symbol(&p, name.c_str()), nullptr) << name;

    const IMAGE_DATA_DIRECTORY &imp_dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(imp_dir.VirtualAddress, 0u) << "no import table";
    size_t count = 0;
    for (const IMAGE_IMPORT_DESCRIPTOR *d = (const IMAGE_IMPORT_DESCRIPTOR *)(base + imp_dir.VirtualAddress);
         d->Name != 0; ++d, ++count) {
        std::string dll = lower((const char *)(base + d->Name));
        EXPECT_TRUE(SYSTEM_DLLS.count(dll)) << row.plugin << " imports " << dll;
    }
    EXPECT_GT(count, 0u);
    plugin_unload(&p);
}

INSTANTIATE_TEST_SUITE_P(Plugins, SphImage, ::testing::ValuesIn(SPH_ROWS),
                         [](const ::testing::TestParamInfo<SphRow> &i) { return std::string(i.param.plugin); });

}  // namespace
