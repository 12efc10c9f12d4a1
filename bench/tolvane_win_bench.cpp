// tolvane's GetFile of a large member to memory, the real DLL loaded as a
// viewer loads it, against what a host does without the plug-in: a plain
// ReadFile of the same bytes from the same warm file into a fresh moveable
// block. A Windows program, run under Wine by `./run bench`.
//
// The member is 64 MiB rather than the native benchmark's 256 MiB: a 32-bit
// process holds the archive's image for the check, the plug-in's block and
// the plain read's block, and 256 MiB blocks do not reliably fit its 2 GiB.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "bench_support.h"
#include "plugin_load.h"
#include "win_clock.h"

namespace {

constexpr uint32_t BIG_MEMBER = 64u << 20;
constexpr uint32_t BIG_POSITION = FPK_SINGLE_MEMBER_POSITION;

int32_t WINAPI keep_going(int32_t done, int32_t total, LONG_PTR user) {
    (void)done;
    (void)total;
    (void)user;
    return 0;
}

// The member's bytes read from the archive into a fresh moveable block, as a
// host reads a file itself; null when any step fails. The block's layout is
// the one the plug-in fills, so both copies meet the same alignment.
HLOCAL plain_read(const std::string &path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return nullptr;
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE, BIG_MEMBER);
    void *p = block ? LocalLock(block) : nullptr;
    DWORD got = 0;
    int ok = p && SetFilePointer(f, BIG_POSITION, nullptr, FILE_BEGIN) == BIG_POSITION &&
             ReadFile(f, p, BIG_MEMBER, &got, nullptr) && got == BIG_MEMBER;
    if (p) LocalUnlock(block);
    CloseHandle(f);
    if (ok) return block;
    if (block) LocalFree(block);
    return nullptr;
}

HLOCAL get_file(const LoadedPlugin &tolvane, const std::string &path, ProgressCallback progress) {
    HLOCAL member = nullptr;
    if (tolvane.get_file(path.c_str(), BIG_POSITION, (char *)&member, DEST_MEMORY, progress, 0) != RESULT_OK)
        return nullptr;
    return member;
}

// 1 when `block` holds exactly the member's bytes of `image`; frees it.
int holds_member(HLOCAL block, const Bytes &image) {
    const uint8_t *p = block ? (const uint8_t *)LocalLock(block) : nullptr;
    int same = p && LocalSize(block) == BIG_MEMBER && memcmp(p, image.data() + BIG_POSITION, BIG_MEMBER) == 0;
    if (p) LocalUnlock(block);
    LocalFree(block);
    return same;
}

}  // namespace

int main() {
    LoadedPlugin tolvane;
    if (!bench_load_plugin(&tolvane, SPI_TOLVANE_PATH)) return 1;
    char folder[MAX_PATH];
    DWORD n = GetTempPathA(sizeof folder, folder);
    if (n == 0 || n >= sizeof folder) {
        fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    std::string path = std::string(folder) + "tolvane-bench-" + std::to_string(GetCurrentProcessId()) + ".fpk";
    int ok = 0;
    {
        Bytes image = bench_fpk(1, BIG_MEMBER);
        // Both reads must give the member's bytes, or the race is not a race;
        // the first read also brings the file into the page cache.
        ok = write_whole_file(path, image) && holds_member(plain_read(path), image) &&
             holds_member(get_file(tolvane, path, nullptr), image) &&
             holds_member(get_file(tolvane, path, keep_going), image);
    }
    if (!ok) {
        fprintf(stderr, "GetFile or the plain read of %s did not give the member's bytes\n", path.c_str());
        DeleteFileA(path.c_str());
        return 1;
    }
    printf("%d-bit process, a %u MiB member\n", (int)(8 * sizeof(void *)), BIG_MEMBER >> 20);
    int failures = 0;
    auto plain = [&] {
        HLOCAL block = plain_read(path);
        failures += block == nullptr;
        LocalFree(block);
    };
    auto ours = [&] {
        HLOCAL block = get_file(tolvane, path, nullptr);
        failures += block == nullptr;
        LocalFree(block);
    };
    auto ours_reporting = [&] {
        HLOCAL block = get_file(tolvane, path, keep_going);
        failures += block == nullptr;
        LocalFree(block);
    };
    Clocked clocked[3];
    clock_race(clocked, plain, ours, ours_reporting);
    DeleteFileA(path.c_str());
    if (failures) {
        fprintf(stderr, "%d reads failed\n", failures);
        return 1;
    }
    double mib = (double)(BIG_MEMBER >> 20);
    print_clocked("plain ReadFile into a fresh block", &clocked[0], mib, "MiB");
    print_clocked("GetFile to memory", &clocked[1], mib, "MiB");
    print_clocked("GetFile to memory with a callback", &clocked[2], mib, "MiB");
    printf("\n");
    print_ratio("GetFile to memory vs plain ReadFile", clocked[0].fastest, clocked[1].fastest, GET_FILE_TARGET);
    print_ratio("GetFile with a callback vs plain ReadFile", clocked[0].fastest, clocked[2].fastest,
                GET_FILE_TARGET);
    plugin_unload(&tolvane);
    return 0;
}
