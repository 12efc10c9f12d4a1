// spihost: drives a plug-in from the command line exactly as a viewer does.
// It loads the plug-in by file name, finds the exports by name, lends it file
// handles and memory images, shows its progress reports, and frees every
// block it is handed with LocalFree. Built for Windows (loading NAME.spi, or
// NAME.sph in the 64-bit build) and natively (loading NAME.so through the
// Win32 layer).
//
// It calls the wide exports (UTF-16 names) when the plug-in has all of them,
// as current viewers do, and the 8-bit ones otherwise or with --ansi. Inside
// spihost every name is UTF-8: the Windows build takes its arguments in UTF-16
// and converts them, the native build takes them as they come. Names are
// converted once more where they meet the plug-in or the file system.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "checked.h"
#include "plugin_load.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <wchar.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

typedef std::vector<uint8_t> Bytes;

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

constexpr int32_t INFO_BUFFER_SIZE = 1024;
// GetPluginInfo indexes tried: the version, the description, then pattern
// and file-type pairs until the plug-in answers 0.
constexpr int32_t INFO_INDEX_LIMIT = 64;
constexpr int PROGRESS_BAR_WIDTH = 32;
constexpr uint32_t DIB_INFO_HEADER_SIZE = 40;
constexpr uint32_t BMP_FILE_HEADER_SIZE = 14;
constexpr uint32_t COMPRESSION_BITFIELDS = 3;
constexpr uint32_t BITFIELD_MASKS_SIZE = 12;

static const char USAGE[] =
    "usage: spihost info PLUGIN\n"
    "       spihost probe PLUGIN FILE\n"
    "       spihost list PLUGIN ARCHIVE [--offset N]\n"
    "       spihost extract PLUGIN ARCHIVE [NAME...] --to DIR [--memory]\n"
    "       spihost picture PLUGIN FILE\n"
    "       spihost decode PLUGIN FILE OUT.bmp [--memory]\n"
    "PLUGIN is the plug-in's file: NAME.spi (32-bit) or NAME.sph (64-bit) on Windows,\n"
    "NAME.so in the native build.\n"
    "--memory hands the plug-in a memory image (decode) or takes the member\n"
    "in a memory block (extract) instead of going through files.\n"
    "--ansi calls the plug-in's 8-bit exports even where it has the wide (UTF-16) ones.\n";

struct ResultReason {
    int32_t code;
    const char *name;
    const char *reason;
};

static const ResultReason RESULT_REASONS[] = {
    {RESULT_NOT_SUPPORTED, "not supported", "the plug-in does not provide this function"},
    {RESULT_OK, "ok", "success"},
    {RESULT_CANCELLED, "cancelled", "the progress callback asked the plug-in to stop"},
    {RESULT_UNKNOWN_FORMAT, "unknown format", "the data failed the plug-in's format check"},
    {RESULT_NO_MEMORY, "no memory", "a memory block could not be allocated"},
    {RESULT_MEMORY_ERROR, "memory error", "a memory block could not be locked"},
    {RESULT_READ_ERROR, "read error",
     "the file could not be opened, positioned or read, the named or positioned "
     "member does not exist, or the archive ends inside the member"},
    {RESULT_INTERNAL_ERROR, "internal error",
     "the destination kind is not supported, or the output file could not be created or "
     "written"},
};

// Set by the Ctrl-C handler, read by the progress callback. A signal handler
// can reach nothing else, so this is the one mutable global.
static volatile sig_atomic_t cancel_requested = 0;

struct CommandLine {
    const char *command;
    const char *plugin;
    std::vector<const char *> operands;
    const char *to_dir;
    int memory;
    int ansi;
    int has_offset;
    int32_t offset;
};

// The plug-in and the set of exports spihost calls: the wide ones (UTF-16
// names, FileInfoRecordW) or the 8-bit ones (the ANSI code page).
struct Host {
    const LoadedPlugin *p;
    int wide;
};

// A file, folder or member name in the form the chosen exports take.
struct PluginName {
    std::string ansi;
    std::u16string wide;
};

// What the progress callback draws; passed to the plug-in through `user`.
struct ProgressBar {
    std::string label;
    int terminal;
    int32_t permille;  // the furthest report seen, in thousandths
    int32_t reports;
    int drawn;
};

struct MemberRef {
    std::string name;
    ULONG_PTR position;
    ULONG_PTR size;
};

static int usage_error(const char *why) {
    if (why) fprintf(stderr, "spihost: %s\n", why);
    fputs(USAGE, stderr);
    return EXIT_USAGE;
}

static const ResultReason *result_reason(int32_t code) {
    for (const ResultReason &r : RESULT_REASONS)
        if (r.code == code) return &r;
    return nullptr;
}

// Prints "CALL on SUBJECT: result N (name): reason" and answers EXIT_FAILED.
// `why`, when given, is what the host found out itself, in place of the
// code's general reason.
static int report_result(const char *call, const char *subject, int32_t code,
                         const char *why = nullptr) {
    const ResultReason *r = result_reason(code);
    fprintf(stderr, "spihost: %s on %s: result %d (%s): %s\n", call, subject, code,
            r ? r->name : "unknown",
            why ? why : r ? r->reason : "a code outside the interface's set");
    return EXIT_FAILED;
}

static int stderr_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr));
#else
    return isatty(fileno(stderr));
#endif
}

#ifdef _WIN32
static BOOL WINAPI cancel_on_ctrl_c(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // A second Ctrl-C falls through to the default handler, which ends us.
    if (cancel_requested) return FALSE;
    cancel_requested = 1;
    return TRUE;
}

static void cancel_watch_start() { SetConsoleCtrlHandler(cancel_on_ctrl_c, TRUE); }
#else
static void cancel_on_interrupt(int) { cancel_requested = 1; }

static void cancel_watch_start() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = cancel_on_interrupt;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C gets the default action and ends us.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}
#endif

static void progress_draw(const ProgressBar *bar, const char *ending) {
    char cells[PROGRESS_BAR_WIDTH + 1];
    int filled = (int)((int64_t)bar->permille * PROGRESS_BAR_WIDTH / 1000);
    for (int i = 0; i < PROGRESS_BAR_WIDTH; i++) cells[i] = i < filled ? '#' : '.';
    cells[PROGRESS_BAR_WIDTH] = 0;
    fprintf(stderr, "%s%-24s [%s] %3d%%%s", bar->terminal ? "\r" : "", bar->label.c_str(),
            cells, (int)(bar->permille / 10), ending);
    fflush(stderr);
}

static ProgressBar progress_start(const std::string &label) {
    ProgressBar bar;
    bar.label = label;
    bar.terminal = stderr_is_terminal();
    bar.permille = 0;
    bar.reports = 0;
    bar.drawn = 0;
    return bar;
}

// The plug-in's progress callback. The bar never moves back: an archive
// plug-in reports (0, 32) once more after it has reached the end.
static int32_t WINAPI progress_report(int32_t done, int32_t total, LONG_PTR user) {
    ProgressBar *bar = (ProgressBar *)user;
    bar->reports++;
    int moved = 0;
    if (total > 0 && done >= 0) {
        int32_t permille = done >= total ? 1000 : (int32_t)((int64_t)done * 1000 / total);
        if (permille > bar->permille) {
            moved = permille / 10 != bar->permille / 10;
            bar->permille = permille;
        }
    }
    if (bar->terminal && (moved || !bar->drawn)) {
        progress_draw(bar, "");
        bar->drawn = 1;
    }
    return cancel_requested ? 1 : 0;
}

// The last line: on a terminal it replaces the bar, elsewhere it is the only one.
static void progress_finish(const ProgressBar *bar, int32_t code) {
    if (bar->reports == 0) return;
    progress_draw(bar, code == RESULT_CANCELLED ? " cancelled\n" : "\n");
}

// The last component of a path, for progress labels.
static std::string base_name(const char *path) {
    const char *name = path;
    for (const char *c = path; *c; c++)
        if (*c == '/' || *c == '\\') name = c + 1;
    return name;
}

// UTF-8 to UTF-16. The three-byte forms of surrogates are taken as they are
// (as in WTF-8), so that any name Windows hands spihost, an unpaired
// surrogate included, comes back unchanged. Answers 0 for bytes that are not
// UTF-8.
static int utf8_to_utf16(const std::string &in, std::u16string *out) {
    out->clear();
    const uint8_t *b = (const uint8_t *)in.data();
    size_t n = in.size();
    for (size_t i = 0; i < n;) {
        uint32_t c = b[i];
        size_t extra = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2
                     : c >= 0xF0 && c <= 0xF4 ? 3 : 4;
        if (extra == 4 || n - i <= extra) return 0;
        if (extra) c &= 0x3F >> extra;
        for (size_t k = 1; k <= extra; k++) {
            if ((b[i + k] & 0xC0) != 0x80) return 0;
            c = c << 6 | (b[i + k] & 0x3F);
        }
        // Overlong forms and code points past U+10FFFF.
        if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF))) return 0;
        if (c >= 0x10000) {
            out->push_back((char16_t)(0xD800 + ((c - 0x10000) >> 10)));
            out->push_back((char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out->push_back((char16_t)c);
        }
        i += extra + 1;
    }
    return 1;
}

// UTF-16 to UTF-8; an unpaired surrogate becomes its three-byte form.
static std::string utf16_to_utf8(const char16_t *in, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; i++) {
        uint32_t c = in[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00);
        if (c < 0x80) {
            out.push_back((char)c);
        } else if (c < 0x800) {
            out.push_back((char)(0xC0 | c >> 6));
            out.push_back((char)(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back((char)(0xE0 | c >> 12));
            out.push_back((char)(0x80 | (c >> 6 & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        } else {
            out.push_back((char)(0xF0 | c >> 18));
            out.push_back((char)(0x80 | (c >> 12 & 0x3F)));
            out.push_back((char)(0x80 | (c >> 6 & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// A UTF-16 string from a fixed field, up to its first 0 or its end.
static std::string field_to_utf8(const char16_t *field, size_t size) {
    size_t n = 0;
    while (n < size && field[n]) n++;
    return utf16_to_utf8(field, n);
}

#ifdef _WIN32
// A name spihost holds, as the system's W functions take it.
static std::wstring windows_name(const std::string &utf8) {
    std::u16string wide;
    utf8_to_utf16(utf8, &wide);
    return std::wstring(wide.begin(), wide.end());
}
#endif

// Text an 8-bit export handed over, in the ANSI code page, as UTF-8.
static std::string ansi_to_utf8(const char *text) {
#ifdef _WIN32
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 1) return "";
    std::wstring wide((size_t)n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
    return utf16_to_utf8((const char16_t *)wide.data(), (size_t)n - 1);
#else
    // The native system's 8-bit names are UTF-8 already.
    return text;
#endif
}

// `name` in the form the chosen exports take; reports a name that form
// cannot carry and answers 0.
static int plugin_name(const Host *h, const std::string &name, PluginName *out) {
    out->ansi.clear();
    out->wide.clear();
    if (h->wide) {
        if (utf8_to_utf16(name, &out->wide)) return 1;
        fprintf(stderr, "spihost: %s is not UTF-8 and has no UTF-16 form for the wide exports; "
                        "--ansi hands it over as it is\n", name.c_str());
        return 0;
    }
#ifdef _WIN32
    std::wstring wide = windows_name(name);
    BOOL lost = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0,
                                nullptr, &lost);
    if (n > 0 && !lost) {
        out->ansi.assign((size_t)n, '\0');
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, &out->ansi[0], n,
                            nullptr, &lost);
        out->ansi.resize((size_t)n - 1);
    }
    if (n <= 0 || lost) {
        fprintf(stderr, "spihost: %s cannot be written in this system's code page (%u) for the "
                        "8-bit exports; without --ansi spihost hands it over in UTF-16\n",
                name.c_str(), (unsigned)GetACP());
        return 0;
    }
#else
    out->ansi = name;
#endif
    return 1;
}

// The file functions spihost itself calls: with UTF-16 names on Windows, with
// the bytes as they are natively.
static FILE *open_file(const std::string &path, int write) {
#ifdef _WIN32
    return _wfopen(windows_name(path).c_str(), write ? L"wb" : L"rb");
#else
    return fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

static HANDLE open_handle(const std::string &path) {
#ifdef _WIN32
    return CreateFileW(windows_name(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, 0, nullptr);
#else
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                       nullptr);
#endif
}

// A file's length, or -1 when it cannot be found.
static int64_t file_length(const std::string &path) {
#ifdef _WIN32
    struct _stat64 st;
    if (_wstat64(windows_name(path).c_str(), &st) != 0) return -1;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
#endif
    return (int64_t)st.st_size;
}

static int read_whole_file(const char *path, Bytes *out) {
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

static int write_whole_file(const std::string &path, const uint8_t *const *parts,
                            const size_t *sizes, int part_count) {
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

static int make_dir(const char *path) {
#ifdef _WIN32
    int made = _wmkdir(windows_name(path).c_str()) == 0;
#else
    int made = mkdir(path, 0777) == 0;
#endif
    if (made || errno == EEXIST) return 1;
    fprintf(stderr, "spihost: cannot create the folder %s: %s\n", path, strerror(errno));
    return 0;
}

// Frees a block the host was handed; a refusal means the block was not a
// live moveable block, a fault worth showing.
static void free_block(HLOCAL block, const char *what) {
    if (block && LocalFree(block) != nullptr)
        fprintf(stderr, "spihost: warning: LocalFree refused the %s block\n", what);
}

// The plug-in is loaded by its 8-bit name, in the system's code page.
static int load_plugin(LoadedPlugin *plugin, const char *path) {
    const Host ansi_host = {nullptr, 0};
    PluginName name;
    if (!plugin_name(&ansi_host, path, &name)) return 0;
    char why[512];
    if (!plugin_load(plugin, name.ansi.c_str(), why, sizeof why)) {
        fprintf(stderr, "spihost: cannot load the plug-in %s: %s\n", path, why);
        return 0;
    }
    return 1;
}

// An 8-bit export and its wide sibling.
struct ExportPair {
    const void *narrow;
    const void *wide;
    const char *wide_name;
};

// Whether the plug-in has the whole wide set: the sibling of each 8-bit
// export it has. `missing` names the first sibling it lacks; it stays null
// when the plug-in has no wide export at all.
static int has_wide_set(const LoadedPlugin *p, const char **missing) {
    const ExportPair pairs[] = {
        {(const void *)p->get_plugin_info, (const void *)p->get_plugin_info_w, "GetPluginInfoW"},
        {(const void *)p->is_supported, (const void *)p->is_supported_w, "IsSupportedW"},
        {(const void *)p->get_archive_info, (const void *)p->get_archive_info_w, "GetArchiveInfoW"},
        {(const void *)p->get_file_info, (const void *)p->get_file_info_w, "GetFileInfoW"},
        {(const void *)p->get_file, (const void *)p->get_file_w, "GetFileW"},
        {(const void *)p->get_picture_info, (const void *)p->get_picture_info_w, "GetPictureInfoW"},
        {(const void *)p->get_preview, (const void *)p->get_preview_w, "GetPreviewW"},
        {(const void *)p->get_picture, (const void *)p->get_picture_w, "GetPictureW"},
    };
    int any = 0;
    *missing = nullptr;
    for (const ExportPair &e : pairs) {
        if (e.wide) any = 1;
        else if (e.narrow && !*missing) *missing = e.wide_name;
    }
    if (!any) *missing = nullptr;
    return any && !*missing;
}

// The calls below go to the wide or the 8-bit export as `h` says; past them
// every command is the same for both sets.

// One information string, as UTF-8.
static int32_t call_plugin_info(const Host *h, int32_t index, std::string *text) {
    if (h->wide) {
        char16_t buf[INFO_BUFFER_SIZE] = {};
        int32_t n = h->p->get_plugin_info_w(index, buf, INFO_BUFFER_SIZE);
        *text = field_to_utf8(buf, INFO_BUFFER_SIZE);
        return n;
    }
    char buf[INFO_BUFFER_SIZE] = {};
    int32_t n = h->p->get_plugin_info(index, buf, INFO_BUFFER_SIZE);
    buf[INFO_BUFFER_SIZE - 1] = 0;
    *text = ansi_to_utf8(buf);
    return n;
}

static int32_t call_is_supported(const Host *h, const PluginName *file, void *probe) {
    return h->wide ? h->p->is_supported_w(file->wide.c_str(), probe)
                   : h->p->is_supported(file->ansi.c_str(), probe);
}

static int32_t call_get_archive_info(const Host *h, const PluginName *archive, LONG_PTR offset,
                                     HLOCAL *block) {
    return h->wide ? h->p->get_archive_info_w(archive->wide.c_str(), offset, SOURCE_FILE, block)
                   : h->p->get_archive_info(archive->ansi.c_str(), offset, SOURCE_FILE, block);
}

// The member a FileInfoRecord or FileInfoRecordW at `at` describes.
static MemberRef member_from_record(const Host *h, const uint8_t *at) {
    if (h->wide) {
        FileInfoRecordW record;
        memcpy(&record, at, sizeof record);
        return {field_to_utf8(record.file_name, sizeof record.file_name / sizeof(char16_t)),
                record.position, record.size};
    }
    FileInfoRecord record;
    memcpy(&record, at, sizeof record);
    record.file_name[sizeof record.file_name - 1] = 0;
    return {ansi_to_utf8(record.file_name), record.position, record.size};
}

static size_t record_size(const Host *h) {
    return h->wide ? sizeof(FileInfoRecordW) : sizeof(FileInfoRecord);
}

static int32_t call_get_file_info(const Host *h, const PluginName *archive,
                                  const PluginName *member, MemberRef *out) {
    uint8_t record[sizeof(FileInfoRecordW)] = {};
    static_assert(sizeof(FileInfoRecordW) > sizeof(FileInfoRecord), "room for either record");
    int32_t code = h->wide ? h->p->get_file_info_w(archive->wide.c_str(), 0, member->wide.c_str(),
                                                   SOURCE_FILE, (FileInfoRecordW *)record)
                           : h->p->get_file_info(archive->ansi.c_str(), 0, member->ansi.c_str(),
                                                 SOURCE_FILE, (FileInfoRecord *)record);
    if (code == RESULT_OK) *out = member_from_record(h, record);
    return code;
}

// GetFile into the folder `dir`, or into a memory block when `dir` is null.
static int32_t call_get_file(const Host *h, const PluginName *archive, LONG_PTR position,
                             const PluginName *dir, HLOCAL *block, ProgressBar *bar) {
    uint32_t flag = SOURCE_FILE | (dir ? DEST_FILE : DEST_MEMORY);
    if (h->wide) {
        std::u16string dest = dir ? dir->wide : std::u16string();
        char16_t *to = dir ? &dest[0] : (char16_t *)block;
        return h->p->get_file_w(archive->wide.c_str(), position, to, flag, progress_report,
                                (LONG_PTR)bar);
    }
    std::string dest = dir ? dir->ansi : std::string();
    char *to = dir ? &dest[0] : (char *)block;
    return h->p->get_file(archive->ansi.c_str(), position, to, flag, progress_report,
                          (LONG_PTR)bar);
}

static int32_t call_get_picture_info(const Host *h, const PluginName *file,
                                     PictureInfoRecord *info) {
    return h->wide ? h->p->get_picture_info_w(file->wide.c_str(), 0, SOURCE_FILE, info)
                   : h->p->get_picture_info(file->ansi.c_str(), 0, SOURCE_FILE, info);
}

// GetPicture from the file, or from `image` in memory when it is not null.
static int32_t call_get_picture(const Host *h, const PluginName *file, const Bytes *image,
                                HLOCAL *info, HLOCAL *bits, ProgressBar *bar) {
    if (image) {
        const uint8_t *at = image->data();
        LONG_PTR size = (LONG_PTR)image->size();
        return h->wide ? h->p->get_picture_w((const char16_t *)at, size, SOURCE_MEMORY, info,
                                             bits, progress_report, (LONG_PTR)bar)
                       : h->p->get_picture((const char *)at, size, SOURCE_MEMORY, info, bits,
                                           progress_report, (LONG_PTR)bar);
    }
    return h->wide ? h->p->get_picture_w(file->wide.c_str(), 0, SOURCE_FILE, info, bits,
                                         progress_report, (LONG_PTR)bar)
                   : h->p->get_picture(file->ansi.c_str(), 0, SOURCE_FILE, info, bits,
                                       progress_report, (LONG_PTR)bar);
}

static int require_export(const void *fn, const char *name, const char *plugin, const char *kind) {
    if (fn) return 1;
    fprintf(stderr, "spihost: %s has no %s export (is it %s plug-in?)\n", plugin, name, kind);
    return 0;
}

static const char *info_label(int32_t index) {
    if (index == 0) return "version";
    if (index == 1) return "description";
    return index % 2 == 0 ? "pattern" : "file type";
}

static int command_info(const Host *h, const CommandLine *cl) {
    const LoadedPlugin *p = h->p;
    if (!require_export((const void *)p->get_plugin_info, "GetPluginInfo", cl->plugin, "a"))
        return EXIT_FAILED;
    int32_t index = 0;
    for (; index < INFO_INDEX_LIMIT; index++) {
        std::string text;
        int32_t n = call_plugin_info(h, index, &text);
        if (n <= 0) break;
        printf("%-2d %-12s %s\n", (int)index, info_label(index), text.c_str());
    }
    const char *missing = nullptr;
    int has_wide = has_wide_set(p, &missing);
    std::string set = h->wide ? "wide (UTF-16 names)"
                      : has_wide ? "8-bit (--ansi)"
                      : missing ? std::string("8-bit (the plug-in lacks ") + missing + ")"
                                : "8-bit (the plug-in has no wide ones)";
    printf("%-2s %-12s %s\n", "", "exports", set.c_str());
    if (index < 4) {
        fprintf(stderr, "spihost: GetPluginInfo(%d) answered 0: a plug-in offers at least four strings\n",
                (int)index);
        return EXIT_FAILED;
    }
    return 0;
}

static const char *probe_answer(int32_t answer) {
    return answer ? "supported" : "not supported";
}

static int command_probe(const Host *h, const CommandLine *cl) {
    if (!require_export((const void *)h->p->is_supported, "IsSupported", cl->plugin, "a"))
        return EXIT_FAILED;
    const char *file = cl->operands[0];
    PluginName name;
    if (!plugin_name(h, file, &name)) return EXIT_FAILED;

    // A viewer lends an open handle first.
    HANDLE handle = open_handle(file);
    if (handle == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "spihost: cannot open %s (error %u)\n", file, (unsigned)GetLastError());
        return EXIT_FAILED;
    }
    DWORD before = SetFilePointer(handle, 0, nullptr, FILE_CURRENT);
    int32_t by_handle = call_is_supported(h, &name, (void *)handle);
    DWORD after = SetFilePointer(handle, 0, nullptr, FILE_CURRENT);
    CloseHandle(handle);

    // Then the first bytes of the file in a buffer, zeros past its end.
    Bytes head(PROBE_BUFFER_SIZE, 0);
    FILE *f = open_file(file, 0);
    if (!f) {
        fprintf(stderr, "spihost: cannot open %s: %s\n", file, strerror(errno));
        return EXIT_FAILED;
    }
    size_t got = fread(head.data(), 1, head.size(), f);
    fclose(f);
    int32_t by_buffer = call_is_supported(h, &name, head.data());

    printf("by handle: %d (%s)\n", (int)by_handle, probe_answer(by_handle));
    printf("by buffer: %d (%s), %u of %u bytes from the file\n", (int)by_buffer,
           probe_answer(by_buffer), (unsigned)got, (unsigned)PROBE_BUFFER_SIZE);
    if (after != before)
        fprintf(stderr, "spihost: warning: the plug-in left the file position at %u, not %u\n",
                (unsigned)after, (unsigned)before);
    if (!by_handle != !by_buffer) fprintf(stderr, "spihost: warning: the two answers differ\n");
    return by_handle && by_buffer ? 0 : EXIT_FAILED;
}

// Walks a record list handed over by GetArchiveInfo, up to the record whose
// first byte is 0 and never past the block's end.
static int collect_members(const Host *h, HLOCAL block, std::vector<MemberRef> *members) {
    const uint8_t *p = (const uint8_t *)LocalLock(block);
    if (!p) {
        fprintf(stderr, "spihost: LocalLock refused the record list (error %u)\n",
                (unsigned)GetLastError());
        return 0;
    }
    size_t size = LocalSize(block);
    size_t at = 0;
    int terminated = 0;
    while (at < size) {
        if (p[at] == 0) {
            terminated = 1;
            break;
        }
        if (size - at < record_size(h)) break;
        members->push_back(member_from_record(h, p + at));
        at += record_size(h);
    }
    LocalUnlock(block);
    if (!terminated) {
        fprintf(stderr, "spihost: the record list ends without a terminating record\n");
        return 0;
    }
    return 1;
}

static int archive_members(const Host *h, const char *archive, int32_t offset,
                           std::vector<MemberRef> *members) {
    PluginName name;
    if (!plugin_name(h, archive, &name)) return 0;
    HLOCAL block = nullptr;
    int32_t code = call_get_archive_info(h, &name, (LONG_PTR)offset, &block);
    if (code != RESULT_OK) {
        if (block) fprintf(stderr, "spihost: warning: GetArchiveInfo failed but left a block\n");
        report_result("GetArchiveInfo", archive, code);
        return 0;
    }
    if (!block) {
        fprintf(stderr, "spihost: GetArchiveInfo answered ok but handed over no block\n");
        return 0;
    }
    int ok = collect_members(h, block, members);
    free_block(block, "record list");
    return ok;
}

static int command_list(const Host *h, const CommandLine *cl) {
    if (!require_export((const void *)h->p->get_archive_info, "GetArchiveInfo", cl->plugin,
                        "an archive"))
        return EXIT_FAILED;
    std::vector<MemberRef> members;
    if (!archive_members(h, cl->operands[0], cl->offset, &members)) return EXIT_FAILED;
    int width = 4;
    for (const MemberRef &m : members)
        if ((int)m.name.size() > width) width = (int)m.name.size();
    printf("%-*s %10s %10s\n", width, "name", "position", "size");
    for (const MemberRef &m : members)
        printf("%-*s %10llu %10llu\n", width, m.name.c_str(), (unsigned long long)m.position,
               (unsigned long long)m.size);
    printf("%llu member%s\n", (unsigned long long)members.size(), members.size() == 1 ? "" : "s");
    return 0;
}

// A member name that stays inside the output folder: no empty name, no
// leading separator, no drive or stream colon, no ".." component.
static int member_name_safe(const std::string &name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') return 0;
    if (name.find(':') != std::string::npos) return 0;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return 0;
        start = end + 1;
    }
    return 1;
}

// DIR/NAME as this platform's file functions take it.
static std::string output_path(const char *dir, const std::string &name) {
    std::string path = std::string(dir) + "/" + name;
#ifndef _WIN32
    for (char &c : path)
        if (c == '\\') c = '/';
#endif
    return path;
}

// Creates the sub-folders a member name such as "docs/a.txt" needs below
// `dir`; the plug-in and fopen create files, not folders.
static int make_member_dirs(const char *dir, const std::string &name) {
    for (size_t end = name.find_first_of("/\\"); end != std::string::npos;
         end = name.find_first_of("/\\", end + 1))
        if (!make_dir(output_path(dir, name.substr(0, end)).c_str())) return 0;
    return 1;
}

// Why GetFile answered a read error for a listed member, when the archive
// file is too short to hold it: the directory promises bytes the file lacks,
// as when a download or a copy was cut short. Empty when the file is whole.
static std::string damage_reason(const char *archive, const MemberRef &m) {
    int64_t length = file_length(archive);
    uint64_t end = (uint64_t)m.position + m.size;
    if (length < 0 || end <= (uint64_t)length) return "";
    char why[256];
    snprintf(why, sizeof why,
             "the archive is damaged: the member runs past the end of the file (%llu bytes "
             "from position %llu, but the file ends at %llu); nothing was written",
             (unsigned long long)m.size, (unsigned long long)m.position,
             (unsigned long long)length);
    return why;
}

// Reports a failed GetFile, explaining a read error where the archive is too
// short for the member.
static void report_get_file(const char *archive, const std::string &where, const MemberRef &m,
                            int32_t code) {
    std::string why = code == RESULT_READ_ERROR ? damage_reason(archive, m) : "";
    report_result("GetFile", where.c_str(), code, why.empty() ? nullptr : why.c_str());
}

// Extracts one member of `archive` into cl->to_dir, which `dir` names for the
// plug-in.
static int extract_member(const Host *h, const CommandLine *cl, const PluginName *archive_name,
                          const PluginName *dir, const MemberRef &m) {
    const char *archive = cl->operands[0];
    std::string where = std::string(archive) + ", member " + m.name;
    if (m.position > (ULONG_PTR)INT32_MAX) {
        fprintf(stderr, "spihost: %s lies at %llu, beyond a 32-bit file position\n",
                where.c_str(), (unsigned long long)m.position);
        return 0;
    }
    LONG_PTR position = (LONG_PTR)m.position;
    ProgressBar bar = progress_start(m.name);
    std::string path = output_path(cl->to_dir, m.name);

    if (member_name_safe(m.name) && !make_member_dirs(cl->to_dir, m.name)) return 0;
    if (!cl->memory) {
        int32_t code = call_get_file(h, archive_name, position, dir, nullptr, &bar);
        progress_finish(&bar, code);
        if (code != RESULT_OK) {
            report_get_file(archive, where, m, code);
            if (code == RESULT_INTERNAL_ERROR)
                fprintf(stderr, "spihost: the plug-in writes %s\\%s itself; it refuses a name "
                                "that would leave the folder and a path over 259 characters\n",
                        cl->to_dir, m.name.c_str());
            return 0;
        }
        printf("%s -> %s (%llu bytes)\n", m.name.c_str(), path.c_str(), (unsigned long long)m.size);
        return 1;
    }

    if (!member_name_safe(m.name)) {
        fprintf(stderr, "spihost: refusing %s: the name would leave %s\n", where.c_str(),
                cl->to_dir);
        return 0;
    }
    HLOCAL block = nullptr;
    int32_t code = call_get_file(h, archive_name, position, nullptr, &block, &bar);
    progress_finish(&bar, code);
    if (code != RESULT_OK) {
        if (block) fprintf(stderr, "spihost: warning: GetFile failed but handed over a block\n");
        report_get_file(archive, where, m, code);
        return 0;
    }
    if (!block) {
        fprintf(stderr, "spihost: GetFile answered ok but handed over no block\n");
        return 0;
    }
    int ok = 0;
    const uint8_t *bytes = (const uint8_t *)LocalLock(block);
    if (!bytes) {
        fprintf(stderr, "spihost: LocalLock refused the member's block (error %u)\n",
                (unsigned)GetLastError());
    } else if (LocalSize(block) < m.size) {
        fprintf(stderr, "spihost: the member's block holds %llu bytes, the listing says %llu\n",
                (unsigned long long)LocalSize(block), (unsigned long long)m.size);
    } else {
        size_t size = (size_t)m.size;
        ok = write_whole_file(path, &bytes, &size, 1);
    }
    if (bytes) LocalUnlock(block);
    free_block(block, "member");
    if (ok)
        printf("%s -> %s (%llu bytes, through memory)\n", m.name.c_str(), path.c_str(),
               (unsigned long long)m.size);
    return ok;
}

static int command_extract(const Host *h, const CommandLine *cl) {
    const LoadedPlugin *p = h->p;
    if (!require_export((const void *)p->get_archive_info, "GetArchiveInfo", cl->plugin,
                        "an archive") ||
        !require_export((const void *)p->get_file_info, "GetFileInfo", cl->plugin, "an archive") ||
        !require_export((const void *)p->get_file, "GetFile", cl->plugin, "an archive"))
        return EXIT_FAILED;
    const char *archive = cl->operands[0];
    PluginName archive_name, dir;
    if (!plugin_name(h, archive, &archive_name) || !plugin_name(h, cl->to_dir, &dir))
        return EXIT_FAILED;
    std::vector<MemberRef> members;
    if (cl->operands.size() == 1) {
        if (!archive_members(h, archive, 0, &members)) return EXIT_FAILED;
    }
    for (size_t i = 1; i < cl->operands.size(); i++) {
        PluginName member_name;
        if (!plugin_name(h, cl->operands[i], &member_name)) return EXIT_FAILED;
        MemberRef member;
        int32_t code = call_get_file_info(h, &archive_name, &member_name, &member);
        if (code != RESULT_OK) {
            std::string where = std::string(archive) + ", member " + cl->operands[i];
            return report_result("GetFileInfo", where.c_str(), code);
        }
        members.push_back(member);
    }
    if (!make_dir(cl->to_dir)) return EXIT_FAILED;

    // A member that fails (a damaged archive, a refused name) does not stop
    // the others; only a cancel does.
    cancel_watch_start();
    size_t failed = 0;
    for (const MemberRef &m : members) {
        if (cancel_requested) break;
        if (!extract_member(h, cl, &archive_name, &dir, m)) ++failed;
    }
    if (cancel_requested) {
        fprintf(stderr, "spihost: extraction cancelled\n");
        return EXIT_FAILED;
    }
    if (failed) {
        fprintf(stderr, "spihost: %llu of %llu member%s %s not extracted\n",
                (unsigned long long)failed, (unsigned long long)members.size(),
                members.size() == 1 ? "" : "s", failed == 1 ? "was" : "were");
        return EXIT_FAILED;
    }
    return 0;
}

static int command_picture(const Host *h, const CommandLine *cl) {
    if (!require_export((const void *)h->p->get_picture_info, "GetPictureInfo", cl->plugin,
                        "an image"))
        return EXIT_FAILED;
    const char *file = cl->operands[0];
    PluginName name;
    if (!plugin_name(h, file, &name)) return EXIT_FAILED;
    PictureInfoRecord info;
    memset(&info, 0, sizeof info);
    int32_t code = call_get_picture_info(h, &name, &info);
    if (code != RESULT_OK) return report_result("GetPictureInfo", file, code);
    printf("width %d, height %d, depth %d bits\n", (int)info.width, (int)info.height,
           (int)info.colour_depth);
    if (info.left || info.top) printf("placed at %d, %d\n", (int)info.left, (int)info.top);
    // A text block, when a plug-in offers one, belongs to the host as well.
    free_block(info.info_handle, "picture text");
    return 0;
}

// Writes the two blocks GetPicture hands over as a BMP file: the file header,
// the information block (header, then masks or colour table) and the rows.
static int write_dib(const std::string &path, HLOCAL info, HLOCAL bits) {
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
    if (info_size < DIB_INFO_HEADER_SIZE || read_le32(header) < DIB_INFO_HEADER_SIZE ||
        read_le32(header) > info_size) {
        fprintf(stderr, "spihost: the information block holds no bitmap information header\n");
        goto done;
    }
    {
        header_size = read_le32(header);
        int32_t signed_width = (int32_t)read_le32(header + 4);
        int32_t signed_height = (int32_t)read_le32(header + 8);
        bit_count = read_le16(header + 14);
        uint32_t compression = read_le32(header + 16);
        uint32_t colours_used = read_le32(header + 32);
        if (signed_width <= 0 || signed_height == 0 || signed_height == INT32_MIN ||
            bit_count == 0 || bit_count > 32) {
            fprintf(stderr, "spihost: the information header describes no picture\n");
            goto done;
        }
        width = (uint32_t)signed_width;
        height = signed_height < 0 ? (uint32_t)-signed_height : (uint32_t)signed_height;
        uint32_t entries = colours_used;
        if (bit_count <= 8 && entries == 0) entries = 1u << bit_count;
        if (!checked_mul_u32(entries, 4, &table_size)) goto too_large;
        if (compression == COMPRESSION_BITFIELDS && header_size == DIB_INFO_HEADER_SIZE)
            table_size = BITFIELD_MASKS_SIZE;
    }
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
        uint8_t file_header[BMP_FILE_HEADER_SIZE] = {'B', 'M'};
        write_le32(file_header + 2, total);
        write_le32(file_header + 10, BMP_FILE_HEADER_SIZE + header_size);
        const uint8_t *parts[3] = {file_header, header, pixels};
        size_t sizes[3] = {BMP_FILE_HEADER_SIZE, header_size, image_size};
        ok = write_whole_file(path, parts, sizes, 3);
        if (ok)
            printf("%s: %u x %u, %u-bit, %u bytes\n", path.c_str(), (unsigned)width,
                   (unsigned)height, (unsigned)bit_count, (unsigned)total);
        if (ok && bit_count != 24)
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

static int command_decode(const Host *h, const CommandLine *cl) {
    if (!require_export((const void *)h->p->get_picture, "GetPicture", cl->plugin, "an image"))
        return EXIT_FAILED;
    const char *file = cl->operands[0];
    PluginName name;
    if (!cl->memory && !plugin_name(h, file, &name)) return EXIT_FAILED;
    Bytes image;
    if (cl->memory) {
        if (!read_whole_file(file, &image)) return EXIT_FAILED;
        if (image.size() > (size_t)INT32_MAX) {
            fprintf(stderr, "spihost: %s is too large for a memory image\n", file);
            return EXIT_FAILED;
        }
    }
    cancel_watch_start();
    HLOCAL info = nullptr, bits = nullptr;
    ProgressBar bar = progress_start(base_name(file));
    int32_t code = call_get_picture(h, &name, cl->memory ? &image : nullptr, &info, &bits, &bar);
    progress_finish(&bar, code);
    if (code != RESULT_OK) {
        if (info || bits) fprintf(stderr, "spihost: warning: GetPicture failed but left a block\n");
        return report_result("GetPicture", file, code);
    }
    int ok = 0;
    if (!info || !bits)
        fprintf(stderr, "spihost: GetPicture answered ok but handed over no block\n");
    else
        ok = write_dib(cl->operands[1], info, bits);
    free_block(bits, "pixel");
    free_block(info, "information");
    return ok ? 0 : EXIT_FAILED;
}

// Reads the command line; answers 0 on success or the exit code to leave with.
static int parse_command_line(int argc, char **argv, CommandLine *cl) {
    cl->command = nullptr;
    cl->plugin = nullptr;
    cl->to_dir = nullptr;
    cl->memory = 0;
    cl->ansi = 0;
    cl->has_offset = 0;
    cl->offset = 0;
    std::vector<const char *> words;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            fputs(USAGE, stdout);
            return -1;
        } else if (strcmp(a, "--memory") == 0) {
            cl->memory = 1;
        } else if (strcmp(a, "--ansi") == 0) {
            cl->ansi = 1;
        } else if (strcmp(a, "--to") == 0) {
            if (++i == argc) return usage_error("--to needs a folder");
            cl->to_dir = argv[i];
        } else if (strcmp(a, "--offset") == 0) {
            if (++i == argc) return usage_error("--offset needs a number");
            char *end = nullptr;
            errno = 0;
            long long v = strtoll(argv[i], &end, 0);
            if (errno || end == argv[i] || *end || v < 0 || v > INT32_MAX)
                return usage_error("--offset takes a byte offset from 0 to 2147483647");
            cl->offset = (int32_t)v;
            cl->has_offset = 1;
        } else if (a[0] == '-' && a[1] == '-') {
            return usage_error((std::string("unknown option ") + a).c_str());
        } else {
            words.push_back(a);
        }
    }
    if (words.size() < 2) return usage_error(nullptr);
    cl->command = words[0];
    cl->plugin = words[1];
    cl->operands.assign(words.begin() + 2, words.end());

    const char *c = cl->command;
    size_t n = cl->operands.size();
    int extract = strcmp(c, "extract") == 0;
    int decode = strcmp(c, "decode") == 0;
    if (strcmp(c, "info") == 0) {
        if (n != 0) return usage_error("info takes only the plug-in");
    } else if (strcmp(c, "probe") == 0 || strcmp(c, "picture") == 0 || strcmp(c, "list") == 0) {
        if (n != 1) return usage_error("expected one file after the plug-in");
    } else if (extract) {
        if (n < 1) return usage_error("extract needs an archive");
        if (!cl->to_dir) return usage_error("extract needs --to DIR");
    } else if (decode) {
        if (n != 2) return usage_error("decode needs a file and an output .bmp");
    } else {
        return usage_error((std::string("unknown command ") + c).c_str());
    }
    if (cl->has_offset && strcmp(c, "list") != 0) return usage_error("--offset is for list");
    if (cl->memory && !extract && !decode) return usage_error("--memory is for extract and decode");
    if (cl->to_dir && !extract) return usage_error("--to is for extract");
    return 0;
}

// The whole run, over arguments in UTF-8.
static int spihost(int argc, char **argv) {
    // Results and progress lines stay in order when both streams are piped.
    setvbuf(stdout, nullptr, _IONBF, 0);
    CommandLine cl;
    int parsed = parse_command_line(argc, argv, &cl);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    LoadedPlugin plugin;
    if (!load_plugin(&plugin, cl.plugin)) return EXIT_FAILED;
    const char *missing = nullptr;
    const Host h = {&plugin, !cl.ansi && has_wide_set(&plugin, &missing)};
    int rc = EXIT_FAILED;
    if (strcmp(cl.command, "info") == 0) rc = command_info(&h, &cl);
    else if (strcmp(cl.command, "probe") == 0) rc = command_probe(&h, &cl);
    else if (strcmp(cl.command, "list") == 0) rc = command_list(&h, &cl);
    else if (strcmp(cl.command, "extract") == 0) rc = command_extract(&h, &cl);
    else if (strcmp(cl.command, "picture") == 0) rc = command_picture(&h, &cl);
    else if (strcmp(cl.command, "decode") == 0) rc = command_decode(&h, &cl);
    fflush(stdout);
    plugin_unload(&plugin);
    return rc;
}

#ifdef _WIN32
// The Windows build takes its arguments in UTF-16 (-municode), so that any
// name typed reaches the plug-in whole, and writes UTF-8 to a console.
int wmain(int argc, wchar_t **argv) {
    std::vector<std::string> words;
    for (int i = 0; i < argc; i++)
        words.push_back(utf16_to_utf8((const char16_t *)argv[i], wcslen(argv[i])));
    std::vector<char *> args;
    for (std::string &w : words) args.push_back(&w[0]);
    args.push_back(nullptr);
    UINT console_page = GetConsoleOutputCP();
    if (console_page) SetConsoleOutputCP(CP_UTF8);
    int rc = spihost(argc, args.data());
    if (console_page) SetConsoleOutputCP(console_page);
    return rc;
}
#else
int main(int argc, char **argv) { return spihost(argc, argv); }
#endif
