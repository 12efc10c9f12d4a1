// Each row of HOST_HABITS played as that host plays it against the real DLLs,
// through the exports it looks up itself, and judged by what it would show,
// save or list.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "bmp16_reference.h"
#include "bmp16_writer.h"
#include "fpk_reference.h"
#include "fpk_writer.h"
#include "host_habits.h"
#include "stb_reference.h"
#include "test_support.h"

// Rows go by their names in GoogleTest's output.
void PrintTo(const HostHabit &habit, std::ostream *out) { *out << habit.name; }

namespace {

// The record the 8-bit GetArchiveInfo lists, in either width of process.
constexpr size_t RECORD_SIZE = sizeof(FileInfoRecord);

// A plug-in as these hosts hold it: the module and the 8-bit exports.
struct HostPlugin {
    HMODULE module;
    GetPluginInfoFn info;
    IsSupportedFn supported;
    GetArchiveInfoFn archive;
    GetFileFn file;
    GetPictureFn picture;
};

HostPlugin host_load(const std::string &path) {
    HostPlugin p = {};
    std::u16string wide(path.size() + 1, u'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, (LPWSTR)&wide[0], (int)wide.size());
    p.module = LoadLibraryW((LPCWSTR)wide.c_str());
    if (!p.module) return p;
    auto symbol = [&](const char *name) { return (void *)GetProcAddress(p.module, name); };
    p.info = (GetPluginInfoFn)symbol("GetPluginInfo");
    p.supported = (IsSupportedFn)symbol("IsSupported");
    p.archive = (GetArchiveInfoFn)symbol("GetArchiveInfo");
    p.file = (GetFileFn)symbol("GetFile");
    p.picture = (GetPictureFn)symbol("GetPicture");
    return p;
}

// The plug-in folder's files whose names end in `extension`, compared with
// case, as the hosts compare them.
std::vector<std::string> plugins_in_folder(const std::string &folder, const std::string &extension) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE walk = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (walk == INVALID_HANDLE_VALUE) return found;
    do {
        std::string name = entry.cFileName;
        if (name.size() > extension.size() &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
            found.push_back(name);
    } while (FindNextFileA(walk, &entry));
    FindClose(walk);
    std::sort(found.begin(), found.end());
    return found;
}

// The block's data as a host that skips LocalLock reaches it: a moveable
// block's handle points at its data pointer.
const uint8_t *through_handle(HLOCAL block) { return *(const uint8_t *const *)block; }

// What a DIB section made from the information block shows once `copy`
// bytes of the pixel block are copied into it (all its rows when SIZE_MAX).
Bytes dib_shown(const uint8_t *info, const uint8_t *bits, size_t copy) {
    void *rows = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, (const BITMAPINFO *)info, DIB_RGB_COLORS, &rows, nullptr, 0);
    if (!section) return {};
    const BITMAPINFOHEADER *h = (const BITMAPINFOHEADER *)info;
    const size_t size = (size_t)((h->biWidth * h->biBitCount / 8 + 3) & ~3) * (size_t)h->biHeight;
    Bytes shown;
    if (copy <= size || copy == SIZE_MAX) {
        memcpy(rows, bits, copy == SIZE_MAX ? size : copy);
        shown.assign((uint8_t *)rows, (uint8_t *)rows + size);
    }
    DeleteObject(section);
    return shown;
}

// A picture handed over: what the host would get wrong in showing it (empty
// when nothing), the blocks freed as it frees them.
std::string judge_shown(HLOCAL info, HLOCAL bits, int by_handle, int copy_size_image,
                        const Bytes &expected) {
    const uint8_t *header = by_handle ? through_handle(info) : (const uint8_t *)LocalLock(info);
    const uint8_t *rows = by_handle ? through_handle(bits) : (const uint8_t *)LocalLock(bits);
    Bytes shown = dib_shown(header, rows, copy_size_image ? ((const BITMAPINFOHEADER *)header)->biSizeImage : SIZE_MAX);
    if (!by_handle) {
        LocalUnlock(bits);
        LocalUnlock(info);
    }
    LocalFree(bits);
    LocalFree(info);
    return shown == expected ? "" : "the picture shown is wrong";
}

Bytes habit_input(HostHabitInput input) {
    Bmp16Knobs plain;
    plain.bit_count = 24;
    plain.compression = 0;
    switch (input) {
    case HABIT_INPUT_SMALL_PICTURE: return make_bmp16(17, 13, MASKS_565, random_pixels(17 * 13, 3));
    case HABIT_INPUT_PICTURE: return make_bmp16(100, 20, MASKS_555, random_pixels(100 * 20, 5));
    case HABIT_INPUT_PLAIN_BITMAP: return make_bmp16(9, 4, MASKS_565, random_pixels(9 * 4, 7), plain);
    case HABIT_INPUT_ARCHIVE: return make_fpk(make_members(6));
    default: return {};
    }
}

struct Played {
    int32_t result;
    std::string wrong;  // what the host would get wrong; empty when nothing
};

class HostHabits : public testing::TestWithParam<HostHabit> {};

TEST_P(HostHabits, ShowWhatTheHostExpects) {
    const HostHabit &habit = GetParam();
    const std::string plugin_path = habit.input == HABIT_INPUT_ARCHIVE ? SPI_TOLVANE_PATH : SPI_PELLIMOR_PATH;
    const std::string folder = plugin_path.substr(0, plugin_path.find_last_of('\\'));
    const std::string extension = plugin_path.substr(plugin_path.find_last_of('.'));
    const Bytes input = habit_input(habit.input);
    const std::string dir = test_scratch_dir();
    const std::string file = test_path(dir, habit.input == HABIT_INPUT_ARCHIVE ? "habit.fpk" : "habit.bmp");
    test_write_file(file, input);
    const Bytes picture = reference_decode(input);
    std::vector<FpkListed> members;
    fpk_reference_read(input, 0, UINT64_MAX, &members);

    HostPlugin p = host_load(plugin_path);
    ASSERT_TRUE(p.module) << plugin_path;
    Played got = {RESULT_OK, ""};
    HLOCAL info = nullptr, bits = nullptr, list = nullptr;
    switch (habit.kind) {
    case HABIT_TERMINAL: {
        // The whole file, named outside any code page, padded to 2 KiB.
        const std::u16string name = test_path_w(test_unicode_dir(), u"\u58C1\u7D19.bmp");
        test_write_file_w(name, input);
        Bytes buffer = test_read_file_w(name);
        if (buffer.size() < PROBE_BUFFER_SIZE) buffer.resize(PROBE_BUFFER_SIZE, 0);
        got = {-1, "no plug-in took the picture"};
        for (const std::string &candidate : plugins_in_folder(folder, extension)) {
            HostPlugin c = host_load(folder + "\\" + candidate);
            char version[8] = "";
            if (!c.info || !c.supported || !c.picture || c.info(0, version, 8) < 4 ||
                version[2] != 'I' || version[3] != 'N' ||
                !c.supported(test_lossy_name(name).c_str(), buffer.data()))
                continue;
            got.result = c.picture((const char *)buffer.data(), (LONG_PTR)buffer.size(), SOURCE_MEMORY,
                                   &info, &bits, nullptr, 0);
            if (got.result != RESULT_OK) continue;
            got.wrong = judge_shown(info, bits, 0, 1, picture);
            break;
        }
        break;
    }
    case HABIT_ENGINE_PICTURE: case HABIT_OLD_WINDOWS: case HABIT_EXTRACTOR_PICTURE: {
        // The engine decodes by name, unprobed, whatever the bytes are.
        std::string name = file;
        LONG_PTR offset = 0;
        if (habit.kind == HABIT_EXTRACTOR_PICTURE) {
            Bytes stored = pattern_bytes(300, 9);
            stored.insert(stored.end(), input.begin(), input.end());
            name = test_path(dir, "stored.dat");
            test_write_file(name, stored);
            offset = 300;
        }
        if (habit.kind == HABIT_OLD_WINDOWS && !feature_query_predates(p.module, 1)) {
            got.wrong = "cannot make the feature query say no";
            break;
        }
        got.result = p.picture(name.c_str(), offset, SOURCE_FILE, &info, &bits, nullptr, 0);
        if (habit.kind == HABIT_OLD_WINDOWS) feature_query_predates(p.module, 0);
        if (got.result == RESULT_OK)
            got.wrong = judge_shown(info, bits, 0, 0, picture);
        else if (info || bits)
            got.wrong = "a block is left after the failure";
        break;
    }
    case HABIT_PAINT_PICTURE:
        got.result = p.picture((const char *)input.data(), (LONG_PTR)input.size(), SOURCE_MEMORY, &info,
                               &bits, nullptr, 0);
        if (got.result == RESULT_OK)
            got.wrong = judge_shown(info, bits, 1, 0, picture);
        break;
    case HABIT_GRAPHICS_LIBRARY: {
        char version[5];
        if (p.info(0, version, 5) != 4 || strcmp(version, "00IN") != 0) {
            got.wrong = "not taken for an image plug-in";
            break;
        }
        // The whole file and nothing past it, as the library holds it.
        Bytes whole = input;
        if (!p.supported(nullptr, whole.data())) {
            got.wrong = "the picture was not recognised";
            break;
        }
        got.result = p.picture((const char *)whole.data(), (LONG_PTR)whole.size(), SOURCE_MEMORY, &info,
                               &bits, nullptr, 0);
        if (got.result == RESULT_OK)
            got.wrong = judge_shown(info, bits, 0, 0, picture);
        break;
    }
    case HABIT_HELPER_PICTURE: {
        char text[1024];
        int32_t index = 0;
        while (index < 64 && p.info(index, text, sizeof text) != 0) ++index;
        if (index != 4) got.wrong = "GetPluginInfo gave " + std::to_string(index) + " strings";
        got.result = p.picture(file.c_str(), 0, SOURCE_FILE, &info, &bits, nullptr, 0);
        if (got.result != RESULT_OK) break;
        // The file it saves: its own 14-byte header, then both blocks whole.
        const size_t info_size = LocalSize(info), bits_size = LocalSize(bits);
        Bytes saved(14, 0);
        saved[0] = 'B';
        saved[1] = 'M';
        put_le32(saved, 2, (uint32_t)(14 + info_size + bits_size));
        put_le32(saved, 10, (uint32_t)(14 + info_size));
        const uint8_t *header = (const uint8_t *)LocalLock(info), *rows = (const uint8_t *)LocalLock(bits);
        saved.insert(saved.end(), header, header + info_size);
        saved.insert(saved.end(), rows, rows + bits_size);
        LocalUnlock(bits);
        LocalUnlock(info);
        LocalFree(bits);
        LocalFree(info);
        int32_t w = 0, h = 0;
        Bytes reread;
        if (!stb_reference_rows(saved.data(), saved.size(), &w, &h, &reread) || reread != picture)
            got.wrong = "the bitmap it saves does not show the picture";
        break;
    }
    case HABIT_ENGINE_ARCHIVE: case HABIT_PAINT_ARCHIVE: case HABIT_EXTRACTOR_ARCHIVE:
    case HABIT_HELPER_ARCHIVE: {
        if (habit.kind == HABIT_ENGINE_ARCHIVE) {
            HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            SetFilePointer(h, 0, nullptr, FILE_BEGIN);
            if (!p.supported(file.c_str(), (void *)h)) got.wrong = "the archive was not recognised";
            if (SetFilePointer(h, 0, nullptr, FILE_CURRENT) != 0) got.wrong = "the handle was moved";
            CloseHandle(h);
        }
        const int memory = habit.kind == HABIT_PAINT_ARCHIVE;
        const char *source = memory ? (const char *)input.data() : file.c_str();
        const LONG_PTR length = memory ? (LONG_PTR)input.size() : 0;
        got.result = p.archive(source, length, memory ? SOURCE_MEMORY : SOURCE_FILE, &list);
        if (got.result != RESULT_OK) break;
        const uint8_t *records = habit.kind == HABIT_PAINT_ARCHIVE ? through_handle(list) : (const uint8_t *)LocalLock(list);
        size_t count = 0;
        if (habit.kind == HABIT_EXTRACTOR_ARCHIVE)
            count = LocalSize(list) / RECORD_SIZE - 1;
        else
            while (records[count * RECORD_SIZE] != 0) ++count;
        if (count != members.size()) got.wrong = "it finds " + std::to_string(count) + " members";
        for (size_t i = 0; i < count && i < members.size() && got.wrong.empty(); ++i) {
            const FileInfoRecord *r = (const FileInfoRecord *)(records + i * RECORD_SIZE);
            if (r->file_name != members[i].name || r->position != members[i].offset || r->timestamp != 0)
                got.wrong = "member " + std::to_string(i) + " is listed wrong";
            if (habit.kind != HABIT_PAINT_ARCHIVE && habit.kind != HABIT_EXTRACTOR_ARCHIVE) continue;
            HLOCAL member = nullptr;
            // From memory the source is the member's own bytes.
            got.result = memory ? p.file(source + r->position, (LONG_PTR)r->size, (char *)&member,
                                         SOURCE_MEMORY | DEST_MEMORY, nullptr, 0)
                                : p.file(source, (LONG_PTR)r->position, (char *)&member,
                                         SOURCE_FILE | DEST_MEMORY, nullptr, 0);
            if (got.result != RESULT_OK) break;
            const Bytes expected = fpk_reference_member(input, members[i].offset, members[i].size);
            const size_t size = habit.kind == HABIT_EXTRACTOR_ARCHIVE ? LocalSize(member) : members[i].size;
            const uint8_t *data = memory ? through_handle(member) : (const uint8_t *)LocalLock(member);
            if (Bytes(data, data + size) != expected) got.wrong = "member " + std::to_string(i) + " is saved wrong";
            if (!memory) LocalUnlock(member);
            LocalFree(member);
        }
        if (!memory) LocalUnlock(list);
        LocalFree(list);
        break;
    }
    case HABIT_WRAPPER:
        if (plugins_in_folder(folder, extension) != std::vector<std::string>{"pellimor" + extension, "tolvane" + extension})
            got.wrong = "the plug-ins are not found by their lower-case extension";
        break;
    }
    FreeLibrary(p.module);
    EXPECT_EQ(got.result, habit.result);
    EXPECT_EQ(got.wrong, "");
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostHabits, testing::ValuesIn(HOST_HABITS),
                         [](const testing::TestParamInfo<HostHabit> &row) { return std::string(row.param.name); });

}  // namespace
