// spihost's commands: each drives the plug-in through the exports `h` calls
// (plugin_calls.h) and reports what it answered.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "safe_name.h"
#include "spihost.h"

namespace {

// GetPluginInfo indexes tried: the version, the description, then pattern
// and file-type pairs until the plug-in answers 0.
constexpr int32_t INFO_INDEX_LIMIT = 64;

struct MemberRef {
    std::string name;
    ULONG_PTR position;
    ULONG_PTR size;
};

// Prints "CALL on SUBJECT: result N (name): reason" and answers EXIT_FAILED.
// `why`, when given, is what the host found out itself, in place of the
// code's explanation.
int report_result(const char *call, const char *subject, int32_t code,
                  const char *why = nullptr) {
    const SpiResultText *r = spi_result_text(code);
    fprintf(stderr, "spihost: %s on %s: result %d (%s): %s\n", call, subject, code,
            r ? r->name : "unknown",
            why ? why : r ? r->explanation : "a code outside the interface's set");
    return EXIT_FAILED;
}

// The last component of a path, for progress labels.
std::string base_name(const char *path) {
    const char *name = path;
    for (const char *c = path; *c; c++)
        if (*c == '/' || *c == '\\') name = c + 1;
    return name;
}

// `name` in the form the exports `h` calls take (plugin_calls.h); reports a
// name that form cannot carry and answers 0.
int plugin_name(const PluginCalls *h, const std::string &name, std::string *out) {
    if (h->wide) {
        if (call_takes_name(h, name.c_str())) {
            *out = name;
            return 1;
        }
        fprintf(stderr, "spihost: %s is not UTF-8 and has no UTF-16 form for the wide exports; "
                        "--ansi hands it over as it is\n", name.c_str());
        return 0;
    }
    if (plugin_narrow_text(name, out)) return 1;
#ifdef _WIN32
    fprintf(stderr, "spihost: %s cannot be written in this system's code page (%u) for the "
                    "8-bit exports; without --ansi spihost hands it over in UTF-16\n",
            name.c_str(), (unsigned)GetACP());
#endif
    return 0;
}

// The member a FileInfoRecord or FileInfoRecordW at `at` describes.
MemberRef member_from_record(const PluginCalls *h, const uint8_t *at) {
    if (h->wide) {
        FileInfoRecordW record;
        memcpy(&record, at, sizeof record);
        return {plugin_field_text(record.file_name, sizeof record.file_name / sizeof(char16_t), 1),
                record.position, record.size};
    }
    FileInfoRecord record;
    memcpy(&record, at, sizeof record);
    return {plugin_field_text(record.file_name, sizeof record.file_name, 0), record.position,
            record.size};
}

// GetFile into the folder `dir`, or into a memory block when `dir` is null.
int32_t get_file(const PluginCalls *h, const std::string &archive, LONG_PTR position,
                 const std::string *dir, HLOCAL *block, ProgressBar *bar) {
    uint32_t flag = SOURCE_FILE | (dir ? DEST_FILE : DEST_MEMORY);
    std::string folder = dir ? *dir : std::string();
    char *to = dir ? &folder[0] : (char *)block;
    return call_get_file(h, archive.c_str(), position, to, flag, progress_report, (LONG_PTR)bar);
}

int require_export(const void *fn, const char *name, const char *plugin, const char *kind) {
    if (fn) return 1;
    fprintf(stderr, "spihost: %s has no %s export (is it %s plug-in?)\n", plugin, name, kind);
    return 0;
}

const char *info_label(int32_t index) {
    if (index == 0) return "version";
    if (index == 1) return "description";
    return index % 2 == 0 ? "pattern" : "file type";
}

const char *probe_answer(int32_t answer) {
    return answer ? "supported" : "not supported";
}

// Walks a record list handed over by GetArchiveInfo, up to the record whose
// first byte is 0 and never past the block's end.
int collect_members(const PluginCalls *h, HLOCAL block, std::vector<MemberRef> *members) {
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
        if (size - at < plugin_list_record_size(h->wide)) break;
        members->push_back(member_from_record(h, p + at));
        at += plugin_list_record_size(h->wide);
    }
    LocalUnlock(block);
    if (!terminated) {
        fprintf(stderr, "spihost: the record list ends without a terminating record\n");
        return 0;
    }
    return 1;
}

int archive_members(const PluginCalls *h, const char *archive, int32_t offset,
                    std::vector<MemberRef> *members) {
    std::string name;
    if (!plugin_name(h, archive, &name)) return 0;
    HLOCAL block = nullptr;
    int32_t code = call_get_archive_info(h, name.c_str(), (LONG_PTR)offset, SOURCE_FILE, &block);
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

// Why GetFile answered a read error for a listed member, when the archive
// file is too short to hold it: the directory promises bytes the file lacks,
// as when a download or a copy was cut short. Empty when the file is whole.
std::string damage_reason(const char *archive, const MemberRef &m) {
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
void report_get_file(const char *archive, const std::string &where, const MemberRef &m,
                     int32_t code) {
    std::string why = code == RESULT_READ_ERROR ? damage_reason(archive, m) : "";
    report_result("GetFile", where.c_str(), code, why.empty() ? nullptr : why.c_str());
}

// Extracts one member of `archive` into cl->to_dir, which `dir` names for the
// plug-in.
int extract_member(const PluginCalls *h, const CommandLine *cl, const std::string *archive_name,
                   const std::string *dir, const MemberRef &m) {
    const char *archive = cl->operands[0];
    std::string where = std::string(archive) + ", member " + m.name;
    if (m.position > (ULONG_PTR)INT32_MAX) {
        fprintf(stderr, "spihost: %s lies at %llu, beyond a 32-bit file position\n",
                where.c_str(), (unsigned long long)m.position);
        return 0;
    }
    LONG_PTR position = (LONG_PTR)m.position;
    ProgressBar bar = progress_start(m.name);
    std::string path = member_path(cl->to_dir, m.name);

    // One rule for every name a member is written under (safe_name.h), the
    // one the plug-in applies as well.
    int stays_inside = safe_name_stays_inside(m.name.c_str());
    if (stays_inside && !make_member_dirs(cl->to_dir, m.name)) return 0;
    if (!cl->memory) {
        int32_t code = get_file(h, *archive_name, position, dir, nullptr, &bar);
        progress_finish(&bar, code);
        if (code != RESULT_OK) {
            report_get_file(archive, where, m, code);
            if (code == RESULT_INTERNAL_ERROR)
                fprintf(stderr, "spihost: the plug-in writes %s\\%s itself; it refuses a name "
                                "that would leave the folder or name a device, and a path over "
                                "259 characters\n",
                        cl->to_dir, m.name.c_str());
            return 0;
        }
        printf("%s -> %s (%llu bytes)\n", m.name.c_str(), path.c_str(), (unsigned long long)m.size);
        return 1;
    }

    if (!stays_inside) {
        fprintf(stderr, "spihost: refusing %s: the name would leave %s or name a device (such as "
                        "NUL, CON or COM1); nothing was written\n", where.c_str(), cl->to_dir);
        return 0;
    }
    HLOCAL block = nullptr;
    int32_t code = get_file(h, *archive_name, position, nullptr, &block, &bar);
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

}  // namespace

int command_info(const PluginCalls *h, const CommandLine *cl) {
    const LoadedPlugin *p = h->plugin;
    if (!require_export((const void *)p->get_plugin_info, "GetPluginInfo", cl->plugin, "a"))
        return EXIT_FAILED;
    int32_t index = 0;
    for (; index < INFO_INDEX_LIMIT; index++) {
        std::string text;
        int32_t n = call_get_plugin_info_text(h, index, &text);
        if (n <= 0) break;
        printf("%-2d %-12s %s\n", (int)index, info_label(index), text.c_str());
    }
    const char *missing = nullptr;
    int has_wide = plugin_has_wide_set(p, &missing);
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

int command_probe(const PluginCalls *h, const CommandLine *cl) {
    if (!require_export((const void *)h->plugin->is_supported, "IsSupported", cl->plugin, "a"))
        return EXIT_FAILED;
    const char *file = cl->operands[0];
    std::string name;
    if (!plugin_name(h, file, &name)) return EXIT_FAILED;

    // A viewer lends an open handle first.
    HANDLE handle = open_handle(file);
    if (handle == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "spihost: cannot open %s (error %u)\n", file, (unsigned)GetLastError());
        return EXIT_FAILED;
    }
    DWORD before = SetFilePointer(handle, 0, nullptr, FILE_CURRENT);
    int32_t by_handle = call_is_supported(h, name.c_str(), (void *)handle);
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
    int32_t by_buffer = call_is_supported(h, name.c_str(), head.data());

    printf("by handle: %d (%s)\n", (int)by_handle, probe_answer(by_handle));
    printf("by buffer: %d (%s), %u of %u bytes from the file\n", (int)by_buffer,
           probe_answer(by_buffer), (unsigned)got, (unsigned)PROBE_BUFFER_SIZE);
    if (after != before)
        fprintf(stderr, "spihost: warning: the plug-in left the file position at %u, not %u\n",
                (unsigned)after, (unsigned)before);
    if (!by_handle != !by_buffer) fprintf(stderr, "spihost: warning: the two answers differ\n");
    return by_handle && by_buffer ? 0 : EXIT_FAILED;
}

int command_list(const PluginCalls *h, const CommandLine *cl) {
    if (!require_export((const void *)h->plugin->get_archive_info, "GetArchiveInfo", cl->plugin,
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

int command_extract(const PluginCalls *h, const CommandLine *cl) {
    const LoadedPlugin *p = h->plugin;
    if (!require_export((const void *)p->get_archive_info, "GetArchiveInfo", cl->plugin,
                        "an archive") ||
        !require_export((const void *)p->get_file_info, "GetFileInfo", cl->plugin, "an archive") ||
        !require_export((const void *)p->get_file, "GetFile", cl->plugin, "an archive"))
        return EXIT_FAILED;
    const char *archive = cl->operands[0];
    std::string archive_name, dir;
    if (!plugin_name(h, archive, &archive_name) || !plugin_name(h, cl->to_dir, &dir))
        return EXIT_FAILED;
    std::vector<MemberRef> members;
    if (cl->operands.size() == 1) {
        if (!archive_members(h, archive, 0, &members)) return EXIT_FAILED;
    }
    for (size_t i = 1; i < cl->operands.size(); i++) {
        std::string member_name;
        if (!plugin_name(h, cl->operands[i], &member_name)) return EXIT_FAILED;
        MemberRef member;
        PluginRecord record = {};
        int32_t code = call_get_file_info_record(h, archive_name.c_str(), 0, member_name.c_str(),
                                                 SOURCE_FILE, &record);
        if (code == RESULT_OK) member = member_from_record(h, (const uint8_t *)&record);
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
        if (cancel_was_requested()) break;
        if (!extract_member(h, cl, &archive_name, &dir, m)) ++failed;
    }
    if (cancel_was_requested()) {
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

int command_picture(const PluginCalls *h, const CommandLine *cl) {
    if (!require_export((const void *)h->plugin->get_picture_info, "GetPictureInfo", cl->plugin,
                        "an image"))
        return EXIT_FAILED;
    const char *file = cl->operands[0];
    std::string name;
    if (!plugin_name(h, file, &name)) return EXIT_FAILED;
    PictureInfoRecord info;
    memset(&info, 0, sizeof info);
    int32_t code = call_get_picture_info(h, name.c_str(), 0, SOURCE_FILE, &info);
    if (code != RESULT_OK) return report_result("GetPictureInfo", file, code);
    printf("width %d, height %d, depth %d bits\n", (int)info.width, (int)info.height,
           (int)info.colour_depth);
    if (info.left || info.top) printf("placed at %d, %d\n", (int)info.left, (int)info.top);
    // A text block, when a plug-in offers one, belongs to the host as well.
    free_block(info.info_handle, "picture text");
    return 0;
}

int command_decode(const PluginCalls *h, const CommandLine *cl) {
    if (!require_export((const void *)h->plugin->get_picture, "GetPicture", cl->plugin, "an image"))
        return EXIT_FAILED;
    const char *file = cl->operands[0];
    std::string name;
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
    int32_t code = cl->memory ? call_get_picture(h, (const char *)image.data(), (LONG_PTR)image.size(),
                                                 SOURCE_MEMORY, &info, &bits, progress_report,
                                                 (LONG_PTR)&bar)
                              : call_get_picture(h, name.c_str(), 0, SOURCE_FILE, &info, &bits,
                                                 progress_report, (LONG_PTR)&bar);
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
