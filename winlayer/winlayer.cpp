// Native stand-ins for the Win32 calls the plug-ins make, over POSIX.
#include "winlayer.h"
#include "winlayer_testing.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "utf.h"

namespace {

// Per-thread state: the last error, live blocks and their bytes, and fault
// injection. Each
// thread sees only its own, as each Windows thread has its own last error.
struct WinlayerThread {
    DWORD last_error;
    int64_t live_blocks;
    int64_t block_bytes;
    int64_t block_peak;  // the most block_bytes came to since the restart
    uint32_t calls[WINLAYER_CALL_KINDS];
    enum WinlayerCall armed_call;
    uint32_t armed_at;
    enum WinlayerFault armed_fault;
    int feature_query_predates;  // the processor-feature query says no, as on older systems
};

thread_local WinlayerThread winlayer_thread = {};

constexpr uint32_t BLOCK_MAGIC = 0x4B434C42;  // "BLCK"

// The largest block LocalAlloc hands out: a 32-bit process never gets more.
constexpr SIZE_T WINLAYER_MAX_BLOCK = 0x7FFFFFFF;

// A moveable block: the handle addresses this record; the data has an
// allocation of its own, as a moveable block's memory is apart from its handle
// on Windows (and so lies in memory as an ordinary allocation of its size does).
struct NativeBlock {
    uint32_t magic;
    uint32_t locks;
    SIZE_T size;
    unsigned char *data;  // null for a zero-length block
};

// Counts a call and answers whether an armed fault fires on it.
bool winlayer_fault_fires(enum WinlayerCall call, enum WinlayerFault *fault) {
    WinlayerThread &t = winlayer_thread;
    uint32_t n = ++t.calls[call];
    if (t.armed_at == 0 || t.armed_call != call || n != t.armed_at) return false;
    if (fault) *fault = t.armed_fault;
    return true;
}

DWORD winlayer_error_from_errno(int e) {
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC: return ERROR_DISK_FULL;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_GEN_FAILURE;
    }
}

// Handles are small multiples of 4, as on Windows, so that a handle is never
// mistaken for a buffer address (IsSupported tells them apart by bits 16 up).
HANDLE winlayer_handle_from_fd(int fd) { return (HANDLE)(intptr_t)((fd + 1) * 4); }

int winlayer_fd_from_handle(HANDLE h) {
    intptr_t v = (intptr_t)h;
    if (v <= 0 || (v & 3) != 0) return -1;
    return (int)(v / 4 - 1);
}

NativeBlock *winlayer_block(HLOCAL h) {
    NativeBlock *b = (NativeBlock *)h;
    if (!b || b->magic != BLOCK_MAGIC) return nullptr;
    return b;
}

}  // namespace

namespace {

// What CreateFileA and CreateFileW share once the name is known in UTF-8.
HANDLE winlayer_open_path(std::string path, DWORD access, DWORD disposition) {
    // Windows takes both separators; POSIX only the forward one.
    for (char &c : path)
        if (c == '\\') c = '/';

    int mode = 0;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) mode = O_RDWR;
    else if (access & GENERIC_WRITE) mode = O_WRONLY;
    else mode = O_RDONLY;
    switch (disposition) {
    case CREATE_NEW: mode |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: mode |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: mode |= O_CREAT; break;
    case TRUNCATE_EXISTING: mode |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    bool existed = stat(path.c_str(), &st) == 0;
    int fd = open(path.c_str(), mode | O_CLOEXEC, 0666);
    if (fd < 0) {
        DWORD error = winlayer_error_from_errno(errno);
        // Windows tells a missing folder on the way from a missing file.
        size_t slash = path.rfind('/');
        if (errno == ENOENT && slash != std::string::npos && slash > 0 &&
            stat(path.substr(0, slash).c_str(), &st) != 0)
            error = ERROR_PATH_NOT_FOUND;
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    // Windows refuses to open a directory as a file.
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError((disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) && existed
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return winlayer_handle_from_fd(fd);
}

// The checks both CreateFile calls make before the name is looked at.
bool winlayer_create_refused(const void *name, size_t units) {
    if (winlayer_fault_fires(WINLAYER_CREATE_FILE, nullptr)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return true;
    }
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return true;
    }
    if (units >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return true;
    }
    return false;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD attributes, HANDLE template_file) {
    (void)share;
    (void)security;
    (void)attributes;
    (void)template_file;
    if (winlayer_create_refused(name, name ? strlen(name) : 0)) return INVALID_HANDLE_VALUE;
    return winlayer_open_path(name, access, disposition);
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD attributes, HANDLE template_file) {
    (void)share;
    (void)security;
    (void)attributes;
    (void)template_file;
    size_t units = 0;
    while (name && name[units]) ++units;
    if (winlayer_create_refused(name, units)) return INVALID_HANDLE_VALUE;
    // The file system takes the name's UTF-8 form; an unpaired surrogate
    // keeps its three-byte form (utf.h), so every UTF-16 name names a file.
    std::string path;
    utf8_from_utf16(name, units, &path);
    return winlayer_open_path(path, access, disposition);
}

BOOL ReadFile(HANDLE file, void *buffer, DWORD count, DWORD *read_count, void *overlapped) {
    (void)overlapped;
    if (read_count) *read_count = 0;
    enum WinlayerFault fault = WINLAYER_FAULT_FAIL;
    if (winlayer_fault_fires(WINLAYER_READ_FILE, &fault)) {
        if (fault == WINLAYER_FAULT_FAIL) {
            SetLastError(ERROR_READ_FAULT);
            return FALSE;
        }
        count /= 2;  // a short read that still succeeds
    }
    int fd = winlayer_fd_from_handle(file);
    DWORD done = 0;
    while (done < count) {
        ssize_t got = read(fd, (char *)buffer + done, count - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            SetLastError(winlayer_error_from_errno(errno));
            return FALSE;
        }
        if (got == 0) break;  // end of file: the read succeeds short
        done += (DWORD)got;
    }
    if (read_count) *read_count = done;
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void *buffer, DWORD count, DWORD *written, void *overlapped) {
    (void)overlapped;
    if (written) *written = 0;
    enum WinlayerFault fault = WINLAYER_FAULT_FAIL;
    if (winlayer_fault_fires(WINLAYER_WRITE_FILE, &fault)) {
        if (fault == WINLAYER_FAULT_FAIL) {
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        count /= 2;  // a short write that still reports success
    }
    int fd = winlayer_fd_from_handle(file);
    DWORD done = 0;
    while (done < count) {
        ssize_t put = write(fd, (const char *)buffer + done, count - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            SetLastError(winlayer_error_from_errno(errno));
            if (written) *written = done;
            return FALSE;
        }
        done += (DWORD)put;
    }
    if (written) *written = done;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG *distance_high, DWORD method) {
    if (winlayer_fault_fires(WINLAYER_SET_FILE_POINTER, nullptr)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int fd = winlayer_fd_from_handle(file);
    int64_t move = distance_high ? (int64_t)(((uint64_t)(uint32_t)*distance_high << 32) |
                                             (uint32_t)distance)
                                 : (int64_t)distance;
    int64_t from = 0;
    if (method == FILE_CURRENT || method == FILE_END) {
        off_t here = lseek(fd, 0, method == FILE_CURRENT ? SEEK_CUR : SEEK_END);
        if (here < 0) {
            SetLastError(winlayer_error_from_errno(errno));
            return INVALID_SET_FILE_POINTER;
        }
        from = here;
    } else if (method != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = from + move;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the new position must fit in the 32-bit answer.
    if (!distance_high && target >= (int64_t)INVALID_SET_FILE_POINTER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(fd, (off_t)target, SEEK_SET) < 0) {
        SetLastError(winlayer_error_from_errno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distance_high) *distance_high = (LONG)(uint32_t)((uint64_t)target >> 32);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)(uint64_t)target;
}

BOOL SetEndOfFile(HANDLE file) {
    if (winlayer_fault_fires(WINLAYER_SET_END_OF_FILE, nullptr)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    int fd = winlayer_fd_from_handle(file);
    off_t here = lseek(fd, 0, SEEK_CUR);
    if (here < 0 || ftruncate(fd, here) != 0) {
        SetLastError(winlayer_error_from_errno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    int fd = winlayer_fd_from_handle(handle);
    // An injected failure still closes the descriptor so that tests do not
    // run out of them; the caller only sees the failure.
    bool fail = winlayer_fault_fires(WINLAYER_CLOSE_HANDLE, nullptr);
    if (fd < 0 || close(fd) != 0 || fail) {
        SetLastError(fail ? ERROR_GEN_FAILURE : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD GetLastError(void) { return winlayer_thread.last_error; }

void SetLastError(DWORD error) { winlayer_thread.last_error = error; }

HLOCAL LocalAlloc(UINT flags, SIZE_T size) {
    if (winlayer_fault_fires(WINLAYER_LOCAL_ALLOC, nullptr) || size > WINLAYER_MAX_BLOCK) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    NativeBlock *b = (NativeBlock *)malloc(sizeof(NativeBlock));
    // Cleared by calloc, which takes fresh zeroed pages for a large block
    // rather than writing every byte, as Windows does.
    unsigned char *data = !size ? nullptr
                          : flags & LMEM_ZEROINIT ? (unsigned char *)calloc(size, 1)
                                                  : (unsigned char *)malloc(size);
    if (!b || (size && !data)) {
        free(b);
        free(data);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    b->magic = BLOCK_MAGIC;
    b->locks = 0;
    b->size = size;
    b->data = data;
    WinlayerThread &t = winlayer_thread;
    ++t.live_blocks;
    t.block_bytes += (int64_t)size;
    if (t.block_bytes > t.block_peak) t.block_peak = t.block_bytes;
    return b;
}

void *LocalLock(HLOCAL block) {
    if (winlayer_fault_fires(WINLAYER_LOCAL_LOCK, nullptr)) {
        SetLastError(ERROR_NOT_LOCKED);
        return nullptr;
    }
    NativeBlock *b = winlayer_block(block);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A zero-length moveable block has no memory behind it.
    if (b->size == 0) {
        SetLastError(ERROR_DISCARDED);
        return nullptr;
    }
    ++b->locks;
    return b->data;
}

BOOL LocalUnlock(HLOCAL block) {
    NativeBlock *b = winlayer_block(block);
    if (!b || b->locks == 0) {
        SetLastError(b ? ERROR_NOT_LOCKED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --b->locks;
    if (b->locks == 0) {
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    return TRUE;
}

HLOCAL LocalFree(HLOCAL block) {
    if (!block) return nullptr;
    NativeBlock *b = winlayer_block(block);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return block;
    }
    b->magic = 0;
    winlayer_thread.block_bytes -= (int64_t)b->size;
    free(b->data);
    free(b);
    --winlayer_thread.live_blocks;
    return nullptr;
}

SIZE_T LocalSize(HLOCAL block) {
    NativeBlock *b = winlayer_block(block);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return b->size;
}

int _stricmp(const char *a, const char *b) { return strcasecmp(a, b); }

BOOL IsProcessorFeaturePresent(DWORD feature) {
    if (winlayer_thread.feature_query_predates) return FALSE;
#if defined(__i386__) || defined(__x86_64__)
    // The runtime's record of the processor, taken once when the program
    // starts, as Windows answers from what it learned at boot.
    // For AVX2 the runtime also checks, as Windows does, that the system
    // saves the 256-bit registers (the processor's OSXSAVE bit and XCR0).
    if (feature == PF_SSSE3_INSTRUCTIONS_AVAILABLE) return __builtin_cpu_supports("ssse3") ? TRUE : FALSE;
    if (feature == PF_AVX2_INSTRUCTIONS_AVAILABLE) return __builtin_cpu_supports("avx2") ? TRUE : FALSE;
#else
    (void)feature;
#endif
    return FALSE;
}

int64_t winlayer_live_blocks(void) { return winlayer_thread.live_blocks; }

int64_t winlayer_block_bytes(void) { return winlayer_thread.block_bytes; }

int64_t winlayer_block_peak(void) { return winlayer_thread.block_peak; }

void winlayer_restart_block_peak(void) { winlayer_thread.block_peak = winlayer_thread.block_bytes; }

uint32_t winlayer_call_count(enum WinlayerCall call) {
    return call < WINLAYER_CALL_KINDS ? winlayer_thread.calls[call] : 0;
}

void winlayer_inject(enum WinlayerCall call, uint32_t k, enum WinlayerFault fault) {
    winlayer_thread.armed_call = call;
    winlayer_thread.armed_at = k;
    winlayer_thread.armed_fault = fault;
}

void winlayer_predate_feature_query(int predates) {
    winlayer_thread.feature_query_predates = predates;
}

void winlayer_reset_calls(void) {
    memset(winlayer_thread.calls, 0, sizeof winlayer_thread.calls);
    winlayer_thread.armed_at = 0;
}
