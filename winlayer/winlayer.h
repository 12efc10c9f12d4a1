// The slice of the Win32 API that the plug-ins use, for the native Linux build.
//
// Only what the plug-ins call is here, with the Windows behaviour they rely on:
// a read at end of file succeeds short, a failed SetFilePointer returns all bits
// set, a negative distance from FILE_BEGIN fails, a zero-size moveable block
// cannot be locked, an oversized allocation fails, and GetLastError is per
// thread and holds the Windows error number.
//
// What tests and benchmarks ask of the layer beyond the API is in
// winlayer_testing.h, which no plug-in includes.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef void *HANDLE;
typedef void *HLOCAL;
typedef void *HINSTANCE;
typedef void *LPVOID;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int32_t BOOL;
typedef uint32_t UINT;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef char *LPSTR;
typedef const char *LPCSTR;
// UTF-16, as Windows' WCHAR is: char16_t, never the 32-bit wchar_t of Linux.
typedef char16_t WCHAR;
typedef const char16_t *LPCWSTR;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)0xFFFFFFFF)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_READ_FAULT 30u
#define ERROR_GEN_FAILURE 31u
#define ERROR_HANDLE_EOF 38u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_INVALID_NAME 123u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_DISCARDED 157u
#define ERROR_NOT_LOCKED 158u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD attributes, HANDLE template_file);
// The name in UTF-16; it is opened as its UTF-8 form (utf.h), where an
// unpaired surrogate, which a Windows name may hold, keeps its three-byte form.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD attributes, HANDLE template_file);
BOOL ReadFile(HANDLE file, void *buffer, DWORD count, DWORD *read, void *overlapped);
BOOL WriteFile(HANDLE file, const void *buffer, DWORD count, DWORD *written, void *overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG *distance_high, DWORD method);
BOOL SetEndOfFile(HANDLE file);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError(void);
void SetLastError(DWORD error);

HLOCAL LocalAlloc(UINT flags, SIZE_T size);
void *LocalLock(HLOCAL block);
BOOL LocalUnlock(HLOCAL block);
HLOCAL LocalFree(HLOCAL block);
SIZE_T LocalSize(HLOCAL block);

int _stricmp(const char *a, const char *b);

// Of the processor features only those the plug-ins ask about are known.
#define PF_SSSE3_INSTRUCTIONS_AVAILABLE 36
#define PF_AVX2_INSTRUCTIONS_AVAILABLE 40
BOOL IsProcessorFeaturePresent(DWORD feature);
