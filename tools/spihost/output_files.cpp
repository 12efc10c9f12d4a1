// The files spihost reads and writes itself, and the DIB writer that makes a
// BMP file of the blocks GetPicture hands over. On Windows every name goes to
// the system's W functions as UTF-16; natively the bytes go as they are.
#include <errno.h>
#include <string.h>

#include "bmp_layout.h"
#include "checked.h"
#include "spihost.h"
#include "utf.h"

#ifdef _WIN32
#include <direct.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#endif

namespace {

#ifdef _WIN32
// A name spihost holds, as the system's W functions take it. Every name
// spihost holds came from UTF-16 or the code page, so it converts.
std::wstring windows_name(const std::string &utf8) {
    std::u16string wide;
    utf16_from_utf8(utf8.data(), utf8.size(), UTF_EXACT, &wide);
    return std::wstring(wide.begin(), wide.end());
}
#endif

// Colour-table entries (RGBQUAD) are 4 bytes.
constexpr uint32_t DIB_COLOUR_ENTRY_SIZE = 4;

// The depth an image plug-in is expected to hand over; another is noted.
constexpr uint32_t DIB_EXPECTED_BITS = 24;

}  // namespace

FILE *open_file(const std::string &path, int write) {
#ifdef _WIN32
    return _wfopen(windows_name(path).c_str(), write ? L"wb" : L"rb");
#else
    return fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

HANDLE open_handle(const std::string &path) {
#ifdef _WIN32
    return CreateFileW(windows_name(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, 0, nullptr);
#else
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                       nullptr);
#endif
}

int64_t file_length(const std::string &path) {
#ifdef _WIN32
    struct _stat64 st;
    if (_wstat64(windows_name(path).c_str(), &st) != 0) return -1;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
#endif
    return (int64_t)st.st_size;
}

int read_whole_file(const char *path, Bytes *out) {
    FILE *f = open_file(path, 0);
    if (!f) {
        fprintf(stderr, "spihost: cannot open %s: %s\n", path, strerror(errno));
        return 0;
    }
    out->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + n);
    int failed = ferror(f);
    fclose(f);
    if (failed) {
        fprintf(stderr, "spihost: cannot read %s\n", path);
        return 0;
    }
    return 1;
}

int write_whole_file(const std::string &path, const uint8_t *const *parts, const size_t *sizes,
                     int part_count) {
    FILE *f = open_file(path, 1);
    if (!f) {
        fprintf(stderr, "spihost: cannot create %s: %s\n", path.c_str(), strerror(errno));
        return 0;
    }
    int ok = 1;
    for (int i = 0; i < part_count && ok; i++)
        ok = sizes[i] == 0 || fwrite(parts[i], 1, sizes[i], f) == sizes[i];
    if (fclose(f) != 0) ok = 0;
    if (!ok) fprintf(stderr, "spihost: cannot write %s\n", path.c_str());
    return ok;
}

int make_dir(const char *path) {
#ifdef _WIN32
    int made = _wmkdir(windows_name(path).c_str()) == 0;
#else
    int made = mkdir(path, 0777) == 0;
#endif
    if (made || errno == EEXIST) return 1;
    fprintf(stderr, "spihost: cannot create the folder %s: %s\n", path, strerror(errno));
    return 0;
}

std::string member_path(const char *dir, const std::string &name) {
    std::string path = std::string(dir) + "/" + name;
#ifndef _WIN32
    for (char &c : path)
        if (c == '\\') c = '/';
#endif
    return path;
}

// The plug-in and fopen create files, not folders.
int make_member_dirs(const char *dir, const std::string &name) {
    for (size_t end = name.find_first_of("/\\"); end != std::string::npos;
         end = name.find_first_of("/\\", end + 1))
        if (!make_dir(member_path(dir, name.substr(0, end)).c_str())) return 0;
    return 1;
}

void free_block(HLOCAL block, const char *what) {
    if (block && LocalFree(block) != nullptr)
        fprintf(stderr, "spihost: warning: LocalFree refused the %s block\n", what);
}

// The BMP file: the file header, the information block (header, then masks or
// colour table) and the rows.
int write_dib(const std::string &path, HLOCAL info, HLOCAL bits) {
    int ok = 0;
    const uint8_t *header = (const uint8_t *)LocalLock(info);
    const uint8_t *pixels = (const uint8_t *)LocalLock(bits);
    size_t info_size = header ? LocalSize(info) : 0;
    size_t bits_size = pixels ? LocalSize(bits) : 0;
    uint32_t header_size = 0, width = 0, height = 0, bit_count = 0, stride = 0, image_size = 0;
    uint32_t table_size = 0, total = 0;
    if (!header || !pixels) {
        fprintf(stderr, "spihost: LocalLock refused a picture block (error %u)\n",
                (unsigned)GetLastError());
        goto done;
    }
    if (info_size < BMP_INFO_HEADER_SIZE || read_le32(header + BI_SIZE) < BMP_INFO_HEADER_SIZE ||
        read_le32(header + BI_SIZE) > info_size) {
        fprintf(stderr, "spihost: the information block holds no bitmap information header\n");
        goto done;
    }
    {
        header_size = read_le32(header + BI_SIZE);
        int32_t signed_width = (int32_t)read_le32(header + BI_WIDTH);
        int32_t signed_height = (int32_t)read_le32(header + BI_HEIGHT);
        bit_count = read_le16(header + BI_BIT_COUNT);
        uint32_t compression = read_le32(header + BI_COMPRESSION);
        uint32_t colours_used = read_le32(header + BI_CLR_USED);
        if (signed_width <= 0 || signed_height == 0 || signed_height == INT32_MIN ||
            bit_count == 0 || bit_count > 32) {
            fprintf(stderr, "spihost: the information header describes no picture\n");
            goto done;
        }
        width = (uint32_t)signed_width;
        height = signed_height < 0 ? (uint32_t)-signed_height : (uint32_t)signed_height;
        uint32_t entries = colours_used;
        if (bit_count <= 8 && entries == 0) entries = 1u << bit_count;
        if (!checked_mul_u32(entries, DIB_COLOUR_ENTRY_SIZE, &table_size)) goto too_large;
        if (compression == BMP_COMPRESSION_BITFIELDS && header_size == BMP_INFO_HEADER_SIZE)
            table_size = BMP_MASKS_SIZE;
    }
    // Rows are padded to whole 32-bit words.
    if (!checked_mul_u32(width, bit_count, &stride) || !checked_add_u32(stride, 31, &stride))
        goto too_large;
    stride = stride / 32 * 4;
    if (!checked_mul_u32(stride, height, &image_size) ||
        !checked_add_u32(header_size, table_size, &header_size) ||
        !checked_add_u32(header_size, BMP_FILE_HEADER_SIZE, &total) ||
        !checked_add_u32(total, image_size, &total))
        goto too_large;
    if (header_size > info_size || image_size > bits_size) {
        fprintf(stderr, "spihost: the picture blocks are smaller than their header says\n");
        goto done;
    }
    {
        uint8_t file_header[BMP_FILE_HEADER_SIZE] = {};
        write_le16(file_header + BF_TYPE, BMP_SIGNATURE);
        write_le32(file_header + BF_SIZE, total);
        write_le32(file_header + BF_OFF_BITS, BMP_FILE_HEADER_SIZE + header_size);
        const uint8_t *parts[3] = {file_header, header, pixels};
        size_t sizes[3] = {BMP_FILE_HEADER_SIZE, header_size, image_size};
        ok = write_whole_file(path, parts, sizes, 3);
        if (ok)
            printf("%s: %u x %u, %u-bit, %u bytes\n", path.c_str(), (unsigned)width,
                   (unsigned)height, (unsigned)bit_count, (unsigned)total);
        if (ok && bit_count != DIB_EXPECTED_BITS)
            fprintf(stderr, "spihost: note: the plug-in handed over a %u-bit picture\n",
                    (unsigned)bit_count);
    }
    goto done;
too_large:
    fprintf(stderr, "spihost: the picture is too large for a BMP file\n");
done:
    if (header) LocalUnlock(info);
    if (pixels) LocalUnlock(bits);
    return ok;
}
