// The plug-in interface shared by both plug-ins and by every host we build:
// result codes (spi_result.h), flag bits, the progress callback, the records handed to the
// host and the signatures of the exports.
//
// Integers are 32-bit. Types that the interface widens for 64-bit hosts (the
// `len` argument, the callback's `user`, record positions and sizes, handles)
// are pointer-sized, so one source serves the 32-bit and the 64-bit build.
// Names are 8-bit text in the host's code page for the plain exports and
// UTF-16 (char16_t) for their wide siblings.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform.h"
#include "spi_result.h"

// Bits 0 to 2 of `flag`: where the input comes from.
constexpr uint32_t SOURCE_KIND_MASK = 0x7;
constexpr uint32_t SOURCE_FILE = 0;
constexpr uint32_t SOURCE_MEMORY = 1;

// Bit 7 of GetFileInfo's `flag`: compare member names ignoring case.
constexpr uint32_t MATCH_IGNORE_CASE = 0x80;

// Bits 8 to 10 of GetFile's `flag`: where the member goes.
constexpr uint32_t DEST_KIND_MASK = 0x700;
constexpr uint32_t DEST_FILE = 0x000;
constexpr uint32_t DEST_MEMORY = 0x100;

// IsSupported's probe is a host file handle when no bit above bit 15 is set,
// otherwise the address of a buffer holding this many bytes of the file.
constexpr uint32_t PROBE_BUFFER_SIZE = 2048;

typedef int32_t(WINAPI *ProgressCallback)(int32_t done, int32_t total, LONG_PTR user);

#pragma pack(push, 1)

// One archive member as the host sees it.
struct FileInfoRecord {
    char method[8];
    ULONG_PTR position;
    ULONG_PTR packed_size;
    ULONG_PTR size;
    LONG_PTR timestamp;
    char path[200];
    char file_name[200];
    uint32_t crc;
#if UINTPTR_MAX > 0xFFFFFFFFu
    uint8_t padding[4];
#endif
};

// The same member for a host that calls the wide exports: the names are
// UTF-16, everything else is as in FileInfoRecord.
struct FileInfoRecordW {
    char method[8];
    ULONG_PTR position;
    ULONG_PTR packed_size;
    ULONG_PTR size;
    LONG_PTR timestamp;
    char16_t path[200];
    char16_t file_name[200];
    uint32_t crc;
#if UINTPTR_MAX > 0xFFFFFFFFu
    uint8_t padding[4];
#endif
};

// A picture's dimensions as the host sees them.
struct PictureInfoRecord {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    uint16_t x_density;
    uint16_t y_density;
    int16_t colour_depth;
#if UINTPTR_MAX > 0xFFFFFFFFu
    uint8_t padding[2];
#endif
    HLOCAL info_handle;
};

#pragma pack(pop)

#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(FileInfoRecord) == 448, "64-bit FileInfoRecord is 448 bytes");
static_assert(offsetof(FileInfoRecord, position) == 8, "position at 8");
static_assert(offsetof(FileInfoRecord, packed_size) == 16, "packed_size at 16");
static_assert(offsetof(FileInfoRecord, size) == 24, "size at 24");
static_assert(offsetof(FileInfoRecord, timestamp) == 32, "timestamp at 32");
static_assert(offsetof(FileInfoRecord, path) == 40, "path at 40");
static_assert(offsetof(FileInfoRecord, file_name) == 240, "file_name at 240");
static_assert(offsetof(FileInfoRecord, crc) == 440, "crc at 440");
static_assert(sizeof(FileInfoRecordW) == 848, "64-bit FileInfoRecordW is 848 bytes");
static_assert(offsetof(FileInfoRecordW, path) == 40, "wide path at 40");
static_assert(offsetof(FileInfoRecordW, file_name) == 440, "wide file_name at 440");
static_assert(offsetof(FileInfoRecordW, crc) == 840, "wide crc at 840");
static_assert(sizeof(PictureInfoRecord) == 32, "64-bit PictureInfoRecord is 32 bytes");
static_assert(offsetof(PictureInfoRecord, info_handle) == 24, "info_handle at 24");
#else
static_assert(sizeof(FileInfoRecord) == 428, "FileInfoRecord is 428 bytes");
static_assert(offsetof(FileInfoRecord, position) == 8, "position at 8");
static_assert(offsetof(FileInfoRecord, packed_size) == 12, "packed_size at 12");
static_assert(offsetof(FileInfoRecord, size) == 16, "size at 16");
static_assert(offsetof(FileInfoRecord, timestamp) == 20, "timestamp at 20");
static_assert(offsetof(FileInfoRecord, path) == 24, "path at 24");
static_assert(offsetof(FileInfoRecord, file_name) == 224, "file_name at 224");
static_assert(offsetof(FileInfoRecord, crc) == 424, "crc at 424");
static_assert(sizeof(FileInfoRecordW) == 828, "FileInfoRecordW is 828 bytes");
static_assert(offsetof(FileInfoRecordW, path) == 24, "wide path at 24");
static_assert(offsetof(FileInfoRecordW, file_name) == 424, "wide file_name at 424");
static_assert(offsetof(FileInfoRecordW, crc) == 824, "wide crc at 824");
static_assert(sizeof(PictureInfoRecord) == 26, "PictureInfoRecord is 26 bytes");
static_assert(offsetof(PictureInfoRecord, info_handle) == 22, "info_handle at 22");
#endif
static_assert(offsetof(FileInfoRecord, method) == 0, "method at 0");
static_assert(offsetof(PictureInfoRecord, width) == 8, "width at 8");
static_assert(offsetof(PictureInfoRecord, height) == 12, "height at 12");
static_assert(offsetof(PictureInfoRecord, x_density) == 16, "x_density at 16");
static_assert(offsetof(PictureInfoRecord, y_density) == 18, "y_density at 18");
static_assert(offsetof(PictureInfoRecord, colour_depth) == 20, "colour_depth at 20");

// The exports, as a host calls them.
typedef int32_t(WINAPI *GetPluginInfoFn)(int32_t infono, char *buf, int32_t buflen);
typedef int32_t(WINAPI *IsSupportedFn)(const char *filename, void *probe);
typedef int32_t(WINAPI *GetArchiveInfoFn)(const char *buf, LONG_PTR len, uint32_t flag,
                                          HLOCAL *info);
typedef int32_t(WINAPI *GetFileInfoFn)(const char *buf, LONG_PTR len, const char *filename,
                                       uint32_t flag, FileInfoRecord *record);
typedef int32_t(WINAPI *GetFileFn)(const char *src, LONG_PTR len, char *dest, uint32_t flag,
                                   ProgressCallback progress, LONG_PTR user);
typedef int32_t(WINAPI *GetPictureInfoFn)(const char *buf, LONG_PTR len, uint32_t flag,
                                          PictureInfoRecord *info);
typedef int32_t(WINAPI *GetPictureFn)(const char *buf, LONG_PTR len, uint32_t flag,
                                      HLOCAL *info, HLOCAL *bits, ProgressCallback progress,
                                      LONG_PTR user);
// GetPreview takes GetPicture's arguments.
typedef GetPictureFn GetPreviewFn;

// The wide siblings, NAME + "W": the same arguments with UTF-16 file and
// folder names (and information strings), and FileInfoRecordW for records.
// For a memory source `buf` or `src` is the image's address all the same.
typedef int32_t(WINAPI *GetPluginInfoWFn)(int32_t infono, char16_t *buf, int32_t buflen);
typedef int32_t(WINAPI *IsSupportedWFn)(const char16_t *filename, void *probe);
typedef int32_t(WINAPI *GetArchiveInfoWFn)(const char16_t *buf, LONG_PTR len, uint32_t flag,
                                           HLOCAL *info);
typedef int32_t(WINAPI *GetFileInfoWFn)(const char16_t *buf, LONG_PTR len,
                                        const char16_t *filename, uint32_t flag,
                                        FileInfoRecordW *record);
typedef int32_t(WINAPI *GetFileWFn)(const char16_t *src, LONG_PTR len, char16_t *dest,
                                    uint32_t flag, ProgressCallback progress, LONG_PTR user);
typedef int32_t(WINAPI *GetPictureInfoWFn)(const char16_t *buf, LONG_PTR len, uint32_t flag,
                                           PictureInfoRecord *info);
typedef int32_t(WINAPI *GetPictureWFn)(const char16_t *buf, LONG_PTR len, uint32_t flag,
                                       HLOCAL *info, HLOCAL *bits, ProgressCallback progress,
                                       LONG_PTR user);
typedef GetPictureWFn GetPreviewWFn;

// Exports are plain C names. On Windows the .def file lists them without the
// stdcall decoration; the native build exports them by visibility.
#ifdef _WIN32
#define SPI_EXPORT extern "C"
#else
#define SPI_EXPORT extern "C" __attribute__((visibility("default")))
#endif
