// transcript_host LIST TOLVANE PELLIMOR OUT: drives both plug-ins through both
// sets of exports over every input that LIST names and prints what they
// answer, so that two builds of the plug-ins can be compared line for line.
//
// Built for ARM64 Windows, where Debian has no C runtime and no C++ library,
// and from the same source for x86-64: its own entry, KERNEL32 only, no
// variadic call. ARM64 Wine inside QEMU's user-mode emulator starts no other
// process and cannot run user32, so this is a console program and nothing more.
//
// LIST is UTF-8, one input a line, each a path relative to the working folder.
// TOLVANE and PELLIMOR are the plug-ins, OUT an empty folder for extracted
// members. The transcript holds no address, handle or path of the run, only
// the inputs' names, the answers and hashes of the blocks and files handed back.
// Exit status 0 when every input was driven, 1 when the run could not start.
#include "code_page.h"
#include "plugin_exports.h"

namespace {

constexpr uint32_t OUT_CAPACITY = 1 << 16;
constexpr uint32_t PATH_UNITS = 1024;     // UTF-16 units of any path made here
constexpr uint32_t MEMBERS_DRIVEN = 12;   // members of an archive taken out one by one
constexpr uint32_t INFO_BUFFER = 256;
// A member or a picture that would fill a block larger than this is not
// extracted or decoded: under emulation, committing and filling hundreds of
// megabytes for a file of a few hundred bytes would take minutes. Blocks of
// 2 GiB and more are refused before anything is allocated, so those calls are made.
constexpr uint64_t MOST_MEMBER_BYTES = 1 << 20;
constexpr uint64_t MOST_PICTURE_BYTES = 4 << 20;
constexpr uint64_t REFUSED_BYTES = 0x80000000u;

// Members land in OUT\ANSI_DEST or OUT\WIDE_DEST; the wide one is outside
// every code page, so only the wide exports can reach it.
const char16_t ANSI_DEST[] = u"ansi";
const char16_t WIDE_DEST[] = u"wide \u51FA\u529B \u00FC \U0001F600";

// Built up and written out at each input's start, so that a crash leaves the
// input it happened in at the end of what was printed.
struct Out {
    HANDLE handle;
    uint64_t *digest;  // while set, text goes into this hash instead
    uint32_t length;
    char text[OUT_CAPACITY];
};

// What the run needs besides the inputs, in one zeroed block: nothing large
// goes on the stack, which has no probe routine to grow it here.
struct Work {
    Out out;
    char16_t args[4][PATH_UNITS];
    char16_t input_wide[PATH_UNITS];
    char input_ansi[2 * PATH_UNITS];
    char16_t dest_wide[PATH_UNITS];       // OUT\WIDE_DEST
    char16_t dest_ansi_wide[PATH_UNITS];  // OUT\ANSI_DEST
    char dest_ansi[2 * PATH_UNITS];       // the same in the code page
    char16_t member_path[PATH_UNITS];
    uint8_t probe[PROBE_BUFFER_SIZE];
    // The first members of the file's listing, as the 8-bit or the wide set gave them.
    FileInfoRecord records[MEMBERS_DRIVEN];
    FileInfoRecordW records_wide[MEMBERS_DRIVEN];
    // One member: what a lookup found, and its name as each set spells it.
    FileInfoRecord found;
    FileInfoRecordW found_wide;
    char name_ansi[200];
    char16_t name_wide[200];
};

// One input as both sets of exports name it.
struct Input {
    const char16_t *wide;
    const char *ansi;  // null when the code page cannot write the name
    const uint8_t *data;
    uint32_t size;
};

// --- text out -------------------------------------------------------------

void out_flush(Out *o) {
    DWORD written = 0;
    if (o->length) WriteFile(o->handle, o->text, o->length, &written, nullptr);
    o->length = 0;
}

// FNV-1a, 64 bits: enough to tell two outputs apart.
constexpr uint64_t HASH_START = 0xCBF29CE484222325ull;
inline uint64_t hash_step(uint64_t h, uint8_t byte) { return (h ^ byte) * 0x100000001B3ull; }

void out_char(Out *o, char c) {
    if (o->digest) {
        *o->digest = hash_step(*o->digest, (uint8_t)c);
        return;
    }
    if (o->length == OUT_CAPACITY) out_flush(o);
    o->text[o->length++] = c;
}

void out_str(Out *o, const char *s) {
    while (*s) out_char(o, *s++);
}

void out_u64(Out *o, uint64_t v) {
    char digits[20];
    int n = 0;
    do digits[n++] = (char)('0' + v % 10);
    while ((v /= 10) != 0);
    while (n) out_char(o, digits[--n]);
}

void out_i64(Out *o, int64_t v) {
    if (v < 0) {
        out_char(o, '-');
        out_u64(o, 0 - (uint64_t)v);
    } else {
        out_u64(o, (uint64_t)v);
    }
}

void out_hex(Out *o, uint64_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) out_char(o, "0123456789abcdef"[(v >> (4 * i)) & 15]);
}

// `label`=`v`, after a blank.
void out_field(Out *o, const char *label, int64_t v) {
    out_char(o, ' ');
    out_str(o, label);
    out_char(o, '=');
    out_i64(o, v);
}

// Text in quotes: printable ASCII as it is, every other byte as \xNN.
void out_bytes(Out *o, const char *s, uint32_t limit) {
    out_char(o, '"');
    for (uint32_t i = 0; i < limit && s[i]; ++i) {
        uint8_t c = (uint8_t)s[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out_char(o, (char)c);
        } else {
            out_str(o, "\\x");
            out_hex(o, c, 2);
        }
    }
    out_char(o, '"');
}

// UTF-16 text as UTF-8 in quotes; a lone surrogate as \uNNNN.
void out_utf16(Out *o, const char16_t *s, uint32_t limit) {
    out_char(o, '"');
    for (uint32_t i = 0; i < limit && s[i]; ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < limit && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            out_str(o, "\\u");
            out_hex(o, c, 4);
            continue;
        }
        if (c < 0x20 || c == '"' || c == '\\') {
            out_str(o, "\\x");
            out_hex(o, c, 2);
        } else if (c < 0x80) {
            out_char(o, (char)c);
        } else if (c < 0x800) {
            out_char(o, (char)(0xC0 | c >> 6));
            out_char(o, (char)(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out_char(o, (char)(0xE0 | c >> 12));
            out_char(o, (char)(0x80 | (c >> 6 & 0x3F)));
            out_char(o, (char)(0x80 | (c & 0x3F)));
        } else {
            out_char(o, (char)(0xF0 | c >> 18));
            out_char(o, (char)(0x80 | (c >> 12 & 0x3F)));
            out_char(o, (char)(0x80 | (c >> 6 & 0x3F)));
            out_char(o, (char)(0x80 | (c & 0x3F)));
        }
    }
    out_char(o, '"');
}

// --- blocks and files -----------------------------------------------------

uint64_t hash_bytes(const uint8_t *p, uint32_t n) {
    uint64_t h = HASH_START;
    for (uint32_t i = 0; i < n; ++i) h = hash_step(h, p[i]);
    return h;
}

void out_hash(Out *o, const char *label, const uint8_t *p, uint32_t n) {
    out_field(o, label, n);
    out_char(o, ':');
    out_hex(o, hash_bytes(p, n), 16);
}

// A block the plug-in handed over: its size and hash, then freed.
void out_block(Out *o, const char *label, HLOCAL block) {
    if (!block) {
        out_char(o, ' ');
        out_str(o, label);
        out_str(o, "=null");
        return;
    }
    uint32_t size = (uint32_t)LocalSize(block);
    const uint8_t *p = (const uint8_t *)LocalLock(block);
    out_hash(o, label, p, p ? size : 0);
    if (p) LocalUnlock(block);
    LocalFree(block);
}

// `a` followed by `b` into `out` of PATH_UNITS units, with a backslash between
// when `sep`; 0 when it does not fit.
int wide_join(char16_t *out, const char16_t *a, const char16_t *b, int sep) {
    uint32_t n = 0;
    for (const char16_t *s = a; *s; ++s) {
        if (n + 2 >= PATH_UNITS) return 0;
        out[n++] = *s;
    }
    if (sep) out[n++] = u'\\';
    for (const char16_t *s = b; *s; ++s) {
        if (n + 1 >= PATH_UNITS) return 0;
        out[n++] = *s;
    }
    out[n] = 0;
    return 1;
}

// The code page's spelling of `wide` and its terminator into `out` (`size`
// bytes); 0 when the code page cannot write it (code_page.h).
int ansi_of(const char16_t *wide, char *out, int size) {
    int32_t units = 0;
    while (wide[units]) ++units;
    return code_page_from_utf16(wide, units + 1, CODE_PAGE_EXACT, out, size) > 0;
}

// A whole file in a fixed block of its size plus one (never empty); null when it cannot be read.
uint8_t *read_whole(const char16_t *path, uint32_t *size) {
    HANDLE h = CreateFileW((LPCWSTR)path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    DWORD high = 0;
    DWORD length = SetFilePointer(h, 0, (LONG *)&high, FILE_END);
    uint8_t *data = nullptr;
    DWORD got = 0;
    if (length != INVALID_SET_FILE_POINTER && high == 0 && length < 0x7FFFFFFF &&
        SetFilePointer(h, 0, nullptr, FILE_BEGIN) == 0)
        data = (uint8_t *)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, length + 1);
    if (data && (!ReadFile(h, data, length, &got, nullptr) || got != length)) {
        LocalFree(data);
        data = nullptr;
    }
    CloseHandle(h);
    *size = length;
    return data;
}

// --- progress reports -----------------------------------------------------

struct Progress {
    uint32_t calls;
    uint32_t stop_at;  // the call that answers "stop", counted from 1; 0 never
    int32_t last_done;
    int32_t last_total;
};

int32_t WINAPI progress_report(int32_t done, int32_t total, LONG_PTR user) {
    Progress *p = (Progress *)user;
    ++p->calls;
    p->last_done = done;
    p->last_total = total;
    return p->calls == p->stop_at ? 1 : 0;
}

void out_progress(Out *o, const Progress *p) {
    out_field(o, "reports", p->calls);
    if (p->calls) {
        out_field(o, "last", p->last_done);
        out_char(o, '/');
        out_i64(o, p->last_total);
    }
}

// --- the two plug-ins -----------------------------------------------------

// The plug-in's information strings through both sets, whole and cut short.
void drive_info(Out *o, const LoadedPlugin *p) {
    char buf[INFO_BUFFER];
    char16_t wbuf[INFO_BUFFER];
    const int32_t lengths[] = {INFO_BUFFER, 5, 10, 1};
    for (int32_t infono = -1; infono <= 5; ++infono)
        for (int32_t buflen : lengths) {
            for (uint32_t i = 0; i < INFO_BUFFER; ++i) {
                buf[i] = '#';
                wbuf[i] = u'#';
            }
            buf[INFO_BUFFER - 1] = 0;
            wbuf[INFO_BUFFER - 1] = 0;
            int32_t n = p->get_plugin_info(infono, buf, buflen);
            int32_t nw = p->get_plugin_info_w(infono, wbuf, buflen);
            out_str(o, "info");
            out_field(o, "no", infono);
            out_field(o, "buflen", buflen);
            // Two units past buflen show a write beyond it.
            uint32_t shown = (uint32_t)buflen + 2 < INFO_BUFFER ? (uint32_t)buflen + 2 : INFO_BUFFER;
            out_field(o, "ansi", n);
            out_char(o, ' ');
            out_bytes(o, buf, shown);
            out_field(o, "wide", nw);
            out_char(o, ' ');
            out_utf16(o, wbuf, shown);
            out_char(o, '\n');
        }
}

// IsSupported by an open handle (and where the handle was left) and by the
// first 2048 bytes.
void drive_probe(Out *o, Work *w, const LoadedPlugin *p, const Input *in, int wide) {
    const char *name = in->ansi ? in->ansi : "";
    HANDLE h = CreateFileW((LPCWSTR)in->wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    out_str(o, "  probe");
    if (h == INVALID_HANDLE_VALUE) {
        out_str(o, " handle=unopened");
    } else {
        int32_t r = wide ? p->is_supported_w(in->wide, (void *)h) : p->is_supported(name, (void *)h);
        out_field(o, "handle", r);
        out_field(o, "left_at", (int64_t)SetFilePointer(h, 0, nullptr, FILE_CURRENT));
        CloseHandle(h);
    }
    for (uint32_t i = 0; i < PROBE_BUFFER_SIZE; ++i) w->probe[i] = i < in->size ? in->data[i] : 0;
    int32_t r = wide ? p->is_supported_w(in->wide, w->probe) : p->is_supported(name, w->probe);
    out_field(o, "buffer", r);
    out_char(o, '\n');
}

// A listing block: its size, then every record to the terminator, or with
// `print` 0 the hash of what would be printed (the fields and the names up to
// their ends: the bytes after them are whatever the block held). The first
// MEMBERS_DRIVEN records are copied to `keep` unless it is null. Returns how
// many were copied.
template <typename Record>
uint32_t out_listing(Out *o, HLOCAL block, Record *keep, int print) {
    uint32_t size = (uint32_t)LocalSize(block);
    const uint8_t *p = (const uint8_t *)LocalLock(block);
    uint32_t kept = 0, count = 0;
    uint64_t digest = HASH_START;
    out_field(o, "block", size);
    if (!print) o->digest = &digest;
    if (p) {
        for (const Record *r = (const Record *)p;
             (uint32_t)((const uint8_t *)(r + 1) - p) <= size && r->method[0]; ++r, ++count) {
            if (keep && kept < MEMBERS_DRIVEN) {
                const uint8_t *from = (const uint8_t *)r;
                uint8_t *to = (uint8_t *)&keep[kept++];
                for (uint32_t i = 0; i < sizeof(Record); ++i) to[i] = from[i];
            }
            out_str(o, "\n    member");
            out_char(o, ' ');
            out_bytes(o, r->method, sizeof r->method);
            out_field(o, "position", (int64_t)r->position);
            out_field(o, "packed", (int64_t)r->packed_size);
            out_field(o, "size", (int64_t)r->size);
            out_field(o, "time", (int64_t)r->timestamp);
            out_field(o, "crc", r->crc);
            out_str(o, " path=");
            if constexpr (sizeof(r->path[0]) == 1) {
                out_bytes(o, r->path, sizeof r->path);
                out_str(o, " name=");
                out_bytes(o, r->file_name, sizeof r->file_name);
            } else {
                out_utf16(o, r->path, 200);
                out_str(o, " name=");
                out_utf16(o, r->file_name, 200);
            }
        }
        LocalUnlock(block);
    }
    LocalFree(block);
    o->digest = nullptr;
    if (!print) {
        out_str(o, " records:");
        out_hex(o, digest, 16);
    }
    out_field(o, "records", count);
    return kept;
}

// Member k's name as its set spells it, into w->name_ansi and (widened from
// the bytes for the 8-bit set) w->name_wide, with ASCII letters' case
// swapped when `swap`.
void member_name(Work *w, int wide, uint32_t k, int swap) {
    const uint32_t last = sizeof w->name_ansi - 1;
    for (uint32_t i = 0; i < last; ++i) {
        uint32_t c = wide ? w->records_wide[k].file_name[i] : (uint8_t)w->records[k].file_name[i];
        if (swap && (c | 0x20) >= 'a' && (c | 0x20) <= 'z') c ^= 0x20;
        w->name_ansi[i] = (char)c;
        w->name_wide[i] = (char16_t)c;
        if (!c) break;
    }
    w->name_ansi[last] = 0;
    w->name_wide[last] = 0;
}

int32_t get_file(const LoadedPlugin *p, int wide, const Input *in, int from_memory, LONG_PTR len,
                 void *dest, uint32_t flag, Progress *progress) {
    const void *src = from_memory ? (const void *)in->data : wide ? (const void *)in->wide : (const void *)in->ansi;
    flag |= from_memory ? SOURCE_MEMORY : SOURCE_FILE;
    ProgressCallback cb = progress ? progress_report : nullptr;
    if (wide) return p->get_file_w((const char16_t *)src, len, (char16_t *)dest, flag, cb, (LONG_PTR)progress);
    return p->get_file((const char *)src, len, (char *)dest, flag, cb, (LONG_PTR)progress);
}

// What a GetFile to a folder left there: the file's size and hash, or that
// there is none; then it is removed.
void out_extracted(Out *o, Work *w, int wide, const char16_t *name) {
    uint32_t size = 0;
    if (!wide_join(w->member_path, wide ? w->dest_wide : w->dest_ansi_wide, name, 1)) {
        out_str(o, " file=unnamed");
        return;
    }
    uint8_t *data = read_whole(w->member_path, &size);
    if (!data) {
        out_str(o, " file=none");
        return;
    }
    out_hash(o, "file", data, size);
    LocalFree(data);
    DeleteFileW((LPCWSTR)w->member_path);
}

// One member out of the archive file: looked up by name (as it is, with its
// case swapped, and the swapped name ignoring case), taken into memory with
// reports, into the folder, and cancelled at the first and at the third report.
void drive_member(Out *o, Work *w, const LoadedPlugin *p, const Input *in, int wide, uint32_t k) {
    LONG_PTR position = wide ? (LONG_PTR)w->records_wide[k].position : (LONG_PTR)w->records[k].position;
    uint64_t size = wide ? (uint64_t)w->records_wide[k].size : (uint64_t)w->records[k].size;
    out_str(o, "   member ");
    out_u64(o, k);
    for (int pass = 0; pass < 3; ++pass) {
        member_name(w, wide, k, pass > 0);
        uint32_t flag = pass == 2 ? MATCH_IGNORE_CASE : 0;
        int32_t code = wide ? p->get_file_info_w(in->wide, 0, w->name_wide, SOURCE_FILE | flag, &w->found_wide)
                            : p->get_file_info(in->ansi, 0, w->name_ansi, SOURCE_FILE | flag, &w->found);
        out_field(o, pass == 0 ? "lookup" : pass == 1 ? "swapped" : "ignoring_case", code);
        if (code == RESULT_OK) {
            out_char(o, '@');
            out_i64(o, wide ? (int64_t)w->found_wide.position : (int64_t)w->found.position);
        }
    }
    member_name(w, wide, k, 0);
    if (size > MOST_MEMBER_BYTES && size < REFUSED_BYTES) {
        out_str(o, " extraction skipped: too large to take out here\n");
        return;
    }

    Progress progress = {};
    HLOCAL block = nullptr;
    int32_t code = get_file(p, wide, in, 0, position, &block, DEST_MEMORY, &progress);
    out_field(o, "to_memory", code);
    out_block(o, "data", block);
    out_progress(o, &progress);

    void *dest = wide ? (void *)w->dest_wide : (void *)w->dest_ansi;
    code = get_file(p, wide, in, 0, position, dest, DEST_FILE, nullptr);
    out_field(o, "to_folder", code);
    out_extracted(o, w, wide, w->name_wide);

    const uint32_t stops[] = {1, 3};
    for (uint32_t stop : stops) {
        Progress cancel = {};
        cancel.stop_at = stop;
        block = nullptr;
        code = get_file(p, wide, in, 0, position, &block, DEST_MEMORY, &cancel);
        out_field(o, stop == 1 ? "stop_first" : "stop_third", code);
        out_block(o, "data", block);
        out_progress(o, &cancel);
    }
    out_char(o, '\n');
}

void drive_archive(Out *o, Work *w, const LoadedPlugin *p, const Input *in, int wide) {
    uint32_t kept = 0;
    out_str(o, "  list file");
    if (!wide && !in->ansi) {
        out_str(o, " skipped: the code page cannot write the name\n");
    } else {
        HLOCAL block = nullptr;
        int32_t code = wide ? p->get_archive_info_w(in->wide, 0, SOURCE_FILE, &block)
                            : p->get_archive_info(in->ansi, 0, SOURCE_FILE, &block);
        out_field(o, "code", code);
        if (block) {
            kept = wide ? out_listing(o, block, w->records_wide, 1) : out_listing(o, block, w->records, 1);
        }
        out_char(o, '\n');
    }
    HLOCAL block = nullptr;
    int32_t code = wide ? p->get_archive_info_w((const char16_t *)in->data, in->size, SOURCE_MEMORY, &block)
                        : p->get_archive_info((const char *)in->data, in->size, SOURCE_MEMORY, &block);
    out_str(o, "  list memory");
    out_field(o, "code", code);
    if (block) {
        if (wide)
            out_listing<FileInfoRecordW>(o, block, nullptr, 0);
        else
            out_listing<FileInfoRecord>(o, block, nullptr, 0);
    }
    out_char(o, '\n');

    if (wide || in->ansi) {
        for (uint32_t k = 0; k < kept; ++k) drive_member(o, w, p, in, wide, k);
        // A name that no member has, and a position no member starts at.
        code = wide ? p->get_file_info_w(in->wide, 0, u"no such member", SOURCE_FILE, &w->found_wide)
                    : p->get_file_info(in->ansi, 0, "no such member", SOURCE_FILE, &w->found);
        out_str(o, "  absent");
        out_field(o, "lookup", code);
        block = nullptr;
        code = get_file(p, wide, in, 0, 1, &block, DEST_MEMORY, nullptr);
        out_field(o, "position_1", code);
        out_block(o, "data", block);
        out_char(o, '\n');
    }
    // The whole input as a member image in memory, into memory and into the folder.
    Progress progress = {};
    block = nullptr;
    code = get_file(p, wide, in, 1, in->size, &block, DEST_MEMORY, &progress);
    out_str(o, "  image");
    out_field(o, "to_memory", code);
    out_block(o, "data", block);
    out_progress(o, &progress);
    void *dest = wide ? (void *)w->dest_wide : (void *)w->dest_ansi;
    code = get_file(p, wide, in, 1, in->size, dest, DEST_FILE, nullptr);
    out_field(o, "to_folder", code);
    out_extracted(o, w, wide, u"noname");
    out_char(o, '\n');
}

void out_picture_info(Out *o, int32_t code, PictureInfoRecord *info) {
    out_field(o, "code", code);
    if (code != RESULT_OK) return;
    out_field(o, "left", info->left);
    out_field(o, "top", info->top);
    out_field(o, "width", info->width);
    out_field(o, "height", info->height);
    out_field(o, "x_density", info->x_density);
    out_field(o, "y_density", info->y_density);
    out_field(o, "depth", info->colour_depth);
    out_block(o, "text", info->info_handle);
}

int32_t get_picture(const LoadedPlugin *p, int wide, const Input *in, int from_memory, int preview,
                    HLOCAL *info, HLOCAL *bits, Progress *progress) {
    const void *src = from_memory ? (const void *)in->data : wide ? (const void *)in->wide : (const void *)in->ansi;
    LONG_PTR len = from_memory ? (LONG_PTR)in->size : 0;
    uint32_t flag = from_memory ? SOURCE_MEMORY : SOURCE_FILE;
    ProgressCallback cb = progress ? progress_report : nullptr;
    if (wide) {
        GetPictureWFn fn = preview ? p->get_preview_w : p->get_picture_w;
        return fn((const char16_t *)src, len, flag, info, bits, cb, (LONG_PTR)progress);
    }
    GetPictureFn fn = preview ? p->get_preview : p->get_picture;
    return fn((const char *)src, len, flag, info, bits, cb, (LONG_PTR)progress);
}

void out_picture(Out *o, const char *label, int32_t code, HLOCAL info, HLOCAL bits) {
    out_str(o, label);
    out_field(o, "code", code);
    out_block(o, "info", info);
    out_block(o, "bits", bits);
}

void drive_picture(Out *o, const LoadedPlugin *p, const Input *in, int wide) {
    PictureInfoRecord info;
    for (int from_memory = 0; from_memory < 2; ++from_memory) {
        out_str(o, from_memory ? "  picture memory" : "  picture file");
        if (!from_memory && !wide && !in->ansi) {
            out_str(o, " skipped: the code page cannot write the name\n");
            continue;
        }
        info.info_handle = nullptr;
        const void *src = from_memory ? (const void *)in->data : wide ? (const void *)in->wide : (const void *)in->ansi;
        LONG_PTR len = from_memory ? (LONG_PTR)in->size : 0;
        uint32_t flag = from_memory ? SOURCE_MEMORY : SOURCE_FILE;
        int32_t code = wide ? p->get_picture_info_w((const char16_t *)src, len, flag, &info)
                            : p->get_picture_info((const char *)src, len, flag, &info);
        out_picture_info(o, code, &info);
        out_char(o, '\n');
        if (code == RESULT_OK) {
            int64_t rows = info.height < 0 ? -(int64_t)info.height : info.height;
            uint64_t bytes = ((uint64_t)(uint32_t)info.width * 3 + 3) / 4 * 4 * (uint64_t)rows;
            if (bytes > MOST_PICTURE_BYTES && bytes < REFUSED_BYTES) {
                out_str(o, "   decoding skipped: too large to decode here\n");
                continue;
            }
        }

        // Decoded with reports from the file, without from memory.
        Progress progress = {};
        HLOCAL bits = nullptr, dib = nullptr;
        code = get_picture(p, wide, in, from_memory, 0, &dib, &bits, from_memory ? nullptr : &progress);
        out_picture(o, "   decode", code, dib, bits);
        out_progress(o, &progress);
        const uint32_t stops[] = {1, 2};
        for (uint32_t stop : stops) {
            Progress cancel = {};
            cancel.stop_at = stop;
            bits = dib = nullptr;
            code = get_picture(p, wide, in, from_memory, 0, &dib, &bits, &cancel);
            out_picture(o, stop == 1 ? " stop_first" : " stop_second", code, dib, bits);
            out_progress(o, &cancel);
        }
        bits = dib = nullptr;
        code = get_picture(p, wide, in, from_memory, 1, &dib, &bits, nullptr);
        out_picture(o, " preview", code, dib, bits);
        out_char(o, '\n');
    }
}

int load_plugin(Out *o, LoadedPlugin *p, const char16_t *path) {
    p->module = (void *)LoadLibraryW((LPCWSTR)path);
    if (!p->module) {
        out_str(o, "cannot load ");
        out_utf16(o, path, PATH_UNITS);
        out_field(o, "error", GetLastError());
        out_char(o, '\n');
        return 0;
    }
    for (const PluginExport &e : PLUGIN_EXPORTS) {
        plugin_export_set(p, e.slot, (void *)GetProcAddress((HMODULE)p->module, e.name));
        plugin_export_set(p, e.wide_slot, (void *)GetProcAddress((HMODULE)p->module, e.wide_name));
    }
    int archive = p->get_archive_info && p->get_file_info && p->get_file && p->get_archive_info_w &&
                  p->get_file_info_w && p->get_file_w;
    int image = p->get_picture_info && p->get_picture && p->get_preview && p->get_picture_info_w &&
                p->get_picture_w && p->get_preview_w;
    if (p->get_plugin_info && p->is_supported && p->get_plugin_info_w && p->is_supported_w && (archive || image))
        return 1;
    out_str(o, "an export is missing from ");
    out_utf16(o, path, PATH_UNITS);
    out_char(o, '\n');
    return 0;
}

// The command line's arguments after the program's own name, split at blanks
// outside double quotes, into `args` (each PATH_UNITS units).
int split_arguments(char16_t args[][PATH_UNITS], int most) {
    const char16_t *s = (const char16_t *)GetCommandLineW();
    int n = -1;  // the program's name comes first
    while (*s) {
        while (*s == u' ' || *s == u'\t') ++s;
        if (!*s) break;
        char16_t *to = n >= 0 && n < most ? args[n] : nullptr;
        uint32_t k = 0;
        int quoted = 0;
        for (; *s && (quoted || (*s != u' ' && *s != u'\t')); ++s) {
            if (*s == u'"') {
                quoted = !quoted;
            } else if (to && k + 1 < PATH_UNITS) {
                to[k++] = *s;
            }
        }
        if (to) to[k] = 0;
        ++n;
    }
    return n;
}

int run(Work *w) {
    Out *o = &w->out;
    o->handle = GetStdHandle(STD_OUTPUT_HANDLE);
    char16_t(*args)[PATH_UNITS] = w->args;
    if (split_arguments(args, 4) != 4) {
        out_str(o, "usage: transcript_host LIST TOLVANE PELLIMOR OUT\n");
        out_flush(o);
        return 1;
    }
    LoadedPlugin tolvane = {}, pellimor = {};
    if (!load_plugin(o, &tolvane, args[1]) || !load_plugin(o, &pellimor, args[2])) {
        out_flush(o);
        return 1;
    }
    if (!wide_join(w->dest_wide, args[3], WIDE_DEST, 1) || !wide_join(w->dest_ansi_wide, args[3], ANSI_DEST, 1) ||
        !ansi_of(w->dest_ansi_wide, w->dest_ansi, sizeof w->dest_ansi) ||
        !CreateDirectoryW((LPCWSTR)w->dest_wide, nullptr) || !CreateDirectoryW((LPCWSTR)w->dest_ansi_wide, nullptr)) {
        out_str(o, "cannot make the folders for members in ");
        out_utf16(o, args[3], PATH_UNITS);
        out_char(o, '\n');
        out_flush(o);
        return 1;
    }
    uint32_t list_size = 0;
    uint8_t *list = read_whole(args[0], &list_size);
    if (!list) {
        out_str(o, "cannot read the list ");
        out_utf16(o, args[0], PATH_UNITS);
        out_char(o, '\n');
        out_flush(o);
        return 1;
    }
    const LoadedPlugin *plugins[2] = {&tolvane, &pellimor};
    for (const LoadedPlugin *p : plugins) {
        out_str(o, p == &tolvane ? "== plug-in tolvane\n" : "== plug-in pellimor\n");
        drive_info(o, p);
    }
    uint32_t inputs = 0;
    for (uint32_t at = 0; at < list_size;) {
        uint32_t end = at;
        while (end < list_size && list[end] != '\n') ++end;
        uint32_t length = end - at;
        const char *line = (const char *)list + at;
        at = end + 1;
        if (length == 0) continue;
        int units = MultiByteToWideChar(CP_UTF8, 0, line, (int)length, (LPWSTR)w->input_wide, PATH_UNITS - 1);
        w->input_wide[units > 0 ? units : 0] = 0;
        Input in = {w->input_wide, nullptr, nullptr, 0};
        if (ansi_of(w->input_wide, w->input_ansi, sizeof w->input_ansi)) in.ansi = w->input_ansi;
        out_str(o, "== input ");
        out_utf16(o, w->input_wide, PATH_UNITS);
        out_flush(o);
        uint8_t *data = read_whole(w->input_wide, &in.size);
        if (!data) {
            out_str(o, " cannot be read\n");
            continue;
        }
        in.data = data;
        ++inputs;
        out_field(o, "bytes", in.size);
        out_str(o, in.ansi ? " code_page=yes\n" : " code_page=no\n");
        for (const LoadedPlugin *p : plugins)
            for (int wide = 0; wide < 2; ++wide) {
                out_str(o, p == &tolvane ? " tolvane" : " pellimor");
                out_str(o, wide ? " wide\n" : " ansi\n");
                drive_probe(o, w, p, &in, wide);
                if (p == &tolvane)
                    drive_archive(o, w, p, &in, wide);
                else
                    drive_picture(o, p, &in, wide);
            }
        LocalFree(data);
    }
    out_str(o, "== end");
    out_field(o, "inputs", inputs);
    out_char(o, '\n');
    out_flush(o);
    RemoveDirectoryW((LPCWSTR)w->dest_wide);
    RemoveDirectoryW((LPCWSTR)w->dest_ansi_wide);
    FreeLibrary((HMODULE)tolvane.module);
    FreeLibrary((HMODULE)pellimor.module);
    return 0;
}

}  // namespace

extern "C" void WINAPI transcript_host_entry(void) {
    Work *w = (Work *)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, sizeof(Work));
    ExitProcess(w ? (UINT)run(w) : 1u);
}
