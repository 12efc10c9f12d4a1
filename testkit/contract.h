// The interface's promises, checked on one input as a host would see them.
//
// Each check drives every export that reads input, from memory and from files
// made of the same bytes, and compares each answer with a second, independent
// reading of the bytes: the result code, the hand-over blocks (size and
// contents), the host's variables on failure, the progress reports, the
// extracted files and the count of live blocks. The same checks drive either
// width of the exports: the 8-bit ones, or the wide ones through
// plugin_calls.h, whose names go in as UTF-16 and whose GetArchiveInfo list
// holds FileInfoRecordW records. The fuzz targets trap on the first broken
// promise; the tests report it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "plugin_calls.h"
#include "test_bytes.h"

#ifndef _WIN32
#include "winlayer_testing.h"
#endif

struct ContractRun {
    const PluginCalls *plugin;   // the exports called: the 8-bit ones or the wide ones
    int wide;                    // plugin calls the wide exports
    std::string scratch;         // an existing, empty folder; emptied again before returning
    int count_blocks;            // the platform counts live blocks (the native Win32 layer)
    uint32_t member_cap;         // members and pictures larger than this are not extracted
    uint64_t calls;              // export calls made so far
    std::string failure;         // the first broken promise, empty while all hold
};

// The checks call the plug-in through `plugin`, at its width.
inline ContractRun contract_run(const PluginCalls *plugin, const std::string &scratch) {
    ContractRun run;
    run.plugin = plugin;
    run.wide = plugin->wide;
    run.scratch = scratch;
#ifdef _WIN32
    run.count_blocks = 0;
#else
    run.count_blocks = 1;
#endif
    run.member_cap = 1u << 20;
    run.calls = 0;
    return run;
}

// `tolvane`: IsSupported (buffer and handle), GetArchiveInfo, GetFileInfo
// (exact and ignoring case) and GetFile (to memory and to a folder, with and
// without a callback, from a file and from memory).
void tolvane_contract(ContractRun *run, const uint8_t *data, size_t size);

// `pellimor`: IsSupported (buffer and handle), GetPictureInfo, GetPreview and
// GetPicture (with and without a callback, cancelled at a row the input picks).
void pellimor_contract(ContractRun *run, const uint8_t *data, size_t size);

// The files a contract check writes: helpers shared by both checks.
std::string contract_join(const std::string &dir, const std::string &name);
int contract_read_file(const std::string &path, std::string *out);
int contract_folder_empty(const std::string &dir);
void contract_empty_folder(const std::string &dir);
int contract_make_folder(const std::string &dir);
void contract_remove_folder(const std::string &dir);
// Live blocks the calling thread holds: natively the Win32 layer counts them;
// under Windows the count is not known and this is 0. contract_live_blocks
// is the same where the run counts blocks.
int64_t live_blocks();
int64_t contract_live_blocks(const ContractRun *run);

// A GetArchiveInfo block of FileInfoRecord (wide 0) or FileInfoRecordW
// (wide 1) records by its meaningful parts only (method, numbers, the first
// unit of path, the name, units above 0x7E as \uXXXX), up to the terminator
// record. (The other bytes are 0, which the archive check holds them to.)
std::string contract_list_text(const std::string &block, int wide);

// Progress reports seen by one call, and the report at which to answer stop.
struct Progress {
    std::vector<std::pair<int32_t, int32_t>> reports;
    size_t cancel_at;  // index into the reports; past the end: never cancel
    LONG_PTR user;
    int wrong_user;
};

// The calling thread's Progress, which record_progress fills; with none set
// the callback answers stop.
extern thread_local Progress *current_progress;
int32_t WINAPI record_progress(int32_t done, int32_t total, LONG_PTR user);

// Records the first broken promise (printf-style), saying which width broke
// it; always returns 0.
int contract_fail(ContractRun *run, const char *format, ...)
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 2, 3)))  // mingw's C99 printf, as C++ code gets
#elif defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Takes over a hand-over block as a host does: locks it, copies its contents
// to `out`, unlocks it and frees it with LocalFree. Null when all went as it
// must (the block came unlocked, LocalFree succeeded), else what went wrong.
const char *take_block(HLOCAL block, Bytes *out);
// The same in a contract check, where the block must hold exactly `size`
// bytes.
int contract_take_block(ContractRun *run, HLOCAL block, size_t size, std::string *out,
                        const char *what);
