// The archive plug-in's promises on one input, against an independent reading
// of the FPK directory written here in the plainest form.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "contract_harness.h"
#include "fpk_reference.h"

namespace {

constexpr uint32_t PROBE_ENTRIES = 85;
constexpr uint64_t ALL_ENTRIES = 0xFFFFFFFFu;
constexpr uint32_t LAST_POSITION = 0x7FFFFFFFu;  // SetFilePointer's longest reach
constexpr size_t OUTPUT_PATH_MAX = 259;

std::string view_bytes(View v, uint64_t at, uint32_t n) {
    std::string s(n, '\0');
    for (uint32_t i = 0; i < n && at + i < v.size; ++i) s[i] = (char)v.data[at + i];
    return s;
}

// The input's directory as the reference reads it: ok when its first `limit`
// entries are consistent, with the entries read up to the first that is not.
struct RefDirectory {
    int ok;
    std::vector<FpkListed> entries;
};

RefDirectory ref_directory(View v, uint64_t base, uint64_t limit) {
    RefDirectory d;
    d.ok = fpk_reference_read(v.data, v.size, base, limit, &d.entries);
    return d;
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }
char16_t ascii_lower(char16_t c) { return c >= u'A' && c <= u'Z' ? (char16_t)(c - u'A' + u'a') : c; }

// A stored name (7-bit) against the name the plug-in was given, in its units:
// bytes from the 8-bit exports, UTF-16 units from the wide ones.
template <typename Unit>
int names_equal(const std::string &stored, const std::basic_string<Unit> &wanted, int ignore_case) {
    if (stored.size() != wanted.size()) return 0;
    for (size_t i = 0; i < stored.size(); ++i) {
        Unit a = (Unit)(unsigned char)stored[i], b = wanted[i];
        if (ignore_case ? ascii_lower(a) != ascii_lower(b) : a != b) return 0;
    }
    return 1;
}

// The name GetFileInfo looks up: the 8-bit text, or for the wide exports the
// UTF-16 the calls' rule makes of it, up to its first 0 unit.
int sought_name_matches(const PluginCalls *calls, const std::string &stored,
                        const std::string &name, int ignore_case) {
    if (!calls->wide) return names_equal(stored, name, ignore_case);
    std::u16string units;
    utf16_from_utf8(name.c_str(), calls->names, &units);
    return names_equal(stored, units.substr(0, units.find(u'\0')), ignore_case);
}

uint32_t name_unit(char c) { return (unsigned char)c; }
uint32_t name_unit(char16_t c) { return c; }

std::string swap_case(std::string s) {
    for (char &c : s) {
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    }
    return s;
}

// What one GetFile must give: the code and, on success, the member's bytes.
// A member that the archive file ends inside is `cut`: RESULT_READ_ERROR
// before any block, report or read, whatever its name.
struct Expected {
    int32_t code;
    std::string name;
    std::string bytes;
    uint32_t size;
    int cut;
};

// A component Windows opens as a device in any folder, whatever follows its
// first dot: CON, PRN, AUX, NUL, COM1-9, LPT1-9.
int component_is_device(const std::string &c) {
    std::string stem = c.substr(0, c.find('.'));
    for (char &ch : stem) ch = ascii_lower(ch);
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return 1;
    return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

// The name addresses a place outside the folder, or a device: refused,
// nothing created.
int name_leaves_folder(const std::string &name) {
    if (name.empty()) return 0;
    if (name[0] == '/' || name[0] == '\\' || name.find(':') != std::string::npos) return 1;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        std::string component = name.substr(start, end - start);
        if (component == ".." || component_is_device(component)) return 1;
        start = end + 1;
    }
    return 0;
}

// A plain file name in the folder: no separator, not made of dots only, and
// (on Windows) none of the characters Windows refuses or strips.
int name_is_plain(const std::string &name) {
    if (name.find_first_of("/\\") != std::string::npos) return 0;
    if (name.find_first_not_of('.') == std::string::npos) return 0;
#ifdef _WIN32
    if (name.find_first_of("<>\"|?*") != std::string::npos) return 0;
    if (name.back() == '.') return 0;
#endif
    return 1;
}

struct Tolvane {
    ContractInput in;
    std::string archive;   // the input as a file
    std::string listed;    // `prefix` bytes, then the input, as a file
    uint32_t prefix;
    std::string out;       // the folder GetFile writes to
    RefDirectory dir;      // the whole directory of the input, read independently
};

// One member's record of either width; every unit of the name and its
// terminator is the stored name's byte.
template <typename Record>
int check_record(Tolvane *t, const char *what, const Record *r, const FpkListed &e) {
    if (r->method[0] != ' ' || r->method[1] != '\0')
        return contract_fail(t->in.run, "%s: method is not a single blank", what);
    if (r->position != e.offset || r->packed_size != e.size || r->size != e.size)
        return contract_fail(t->in.run,
                             "%s: record says position %llu sizes %llu/%llu, directory %u/%u",
                             what, (unsigned long long)r->position,
                             (unsigned long long)r->packed_size, (unsigned long long)r->size,
                             e.offset, e.size);
    if (r->timestamp != 0 || r->crc != 0 || r->path[0] != '\0')
        return contract_fail(t->in.run, "%s: timestamp, crc or path not cleared", what);
    for (size_t i = 0; i <= e.name.size(); ++i)
        if (name_unit(r->file_name[i]) != (unsigned char)e.name.c_str()[i])
            return contract_fail(t->in.run, "%s: file_name is not the stored name \"%s\" (unit %zu)",
                                 what, e.name.c_str(), i);
    return 1;
}

// The whole record an entry gives: its meaningful bytes, every other byte 0.
template <typename Record>
Record ref_record(const FpkListed &e) {
    Record r;
    memset(&r, 0, sizeof r);
    r.method[0] = ' ';
    r.position = e.offset;
    r.packed_size = e.size;
    r.size = e.size;
    for (size_t i = 0; i < e.name.size(); ++i) r.file_name[i] = (unsigned char)e.name[i];
    return r;
}

void check_probe_buffer(Tolvane *t) {
    uint8_t *probe = (uint8_t *)malloc(PROBE_BUFFER_SIZE);
    size_t n = t->in.input.size < PROBE_BUFFER_SIZE ? t->in.input.size : PROBE_BUFFER_SIZE;
    memset(probe, 0, PROBE_BUFFER_SIZE);
    if (n) memcpy(probe, t->in.input.data, n);
    int want = ref_directory(t->in.input, 0, PROBE_ENTRIES).ok;
    int32_t got = call_is_supported(t->in.p, "probe.fpk", probe);
    ++t->in.run->calls;
    free(probe);
    if (got != want)
        contract_fail(t->in.run, "IsSupported(buffer): answered %d, expected %d", got, want);
    blocks_back(&t->in, "IsSupported(buffer)");
}

void check_probe_handle(Tolvane *t) {
    HANDLE h = CreateFileA(t->archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        contract_fail(t->in.run, "IsSupported(handle): cannot open the input file");
        return;
    }
    uint32_t at = choice(t->in.input, 1) % 41;
    SetFilePointer(h, (LONG)at, nullptr, FILE_BEGIN);
    int want = ref_directory(t->in.input, at, PROBE_ENTRIES).ok;
    int32_t got = call_is_supported(t->in.p, t->archive.c_str(), (void *)h);
    ++t->in.run->calls;
    DWORD here = SetFilePointer(h, 0, nullptr, FILE_CURRENT);
    CloseHandle(h);
    if (got != want)
        contract_fail(t->in.run, "IsSupported(handle at %u): answered %d, expected %d", at, got,
                      want);
    if (here != at)
        contract_fail(t->in.run, "IsSupported(handle at %u): left the handle at %u", at,
                      (unsigned)here);
    blocks_back(&t->in, "IsSupported(handle)");
}

// A whole list of `Record`s: one per directory entry, then the terminator.
template <typename Record>
void check_list(Tolvane *t, const char *what, const std::string &block) {
    Record r;
    for (size_t i = 0; i < t->dir.entries.size(); ++i) {
        memcpy(&r, block.data() + i * sizeof r, sizeof r);
        if (!check_record(t, what, &r, t->dir.entries[i])) return;
        Record want = ref_record<Record>(t->dir.entries[i]);
        if (memcmp(&r, &want, sizeof r) != 0)
            contract_fail(t->in.run, "%s: record %zu has a byte without meaning that is not 0",
                          what, i);
    }
    memcpy(&r, block.data() + t->dir.entries.size() * sizeof r, sizeof r);
    Record zero;
    memset(&zero, 0, sizeof zero);
    if (memcmp(&r, &zero, sizeof r) != 0)
        contract_fail(t->in.run, "%s: the list does not end with a terminator record of zeros", what);
}

void check_listing(Tolvane *t, int from_file) {
    const char *what = from_file ? "GetArchiveInfo(file)" : "GetArchiveInfo(memory)";
    HLOCAL info = UNTOUCHED;
    uint32_t extra = (uint32_t)(choice(t->in.input, 2) & 0xF8) << (from_file ? 0 : 8);
    uint32_t kind = from_file ? (choice(t->in.input, 3) % 7 == 0 ? 0 : 2 + choice(t->in.input, 3) % 6)
                              : SOURCE_MEMORY;
    int32_t got = from_file ? call_get_archive_info(t->in.p, t->listed.c_str(), (LONG_PTR)t->prefix,
                                                     kind | extra, &info)
                            : call_get_archive_info(t->in.p, (const char *)t->in.image,
                                                     (LONG_PTR)t->in.input.size, kind | extra,
                                                     &info);
    ++t->in.run->calls;
    if (!t->dir.ok) {
        expect_code(&t->in, what, got, RESULT_UNKNOWN_FORMAT);
        if (info != nullptr) contract_fail(t->in.run, "%s: failed check left the host's variable set", what);
        blocks_back(&t->in, what);
        return;
    }
    uint64_t records = (uint64_t)t->dir.entries.size() + 1;
    uint64_t bytes = records * plugin_list_record_size(t->in.run->wide);
    if (bytes > 0x7FFFFFFFu) {
        expect_code(&t->in, what, got, RESULT_NO_MEMORY);
        if (info != nullptr) contract_fail(t->in.run, "%s: host's variable not null", what);
        blocks_back(&t->in, what);
        return;
    }
    if (!expect_code(&t->in, what, got, RESULT_OK)) {
        if (got == RESULT_OK) LocalFree(info);
        return;
    }
    std::string block;
    if (contract_take_block(t->in.run, info, (size_t)bytes, &block, what)) {
        if (t->in.run->wide) check_list<FileInfoRecordW>(t, what, block);
        else check_list<FileInfoRecord>(t, what, block);
    }
    blocks_back(&t->in, what);
}

void find_member(Tolvane *t, const std::string &name, int ignore_case, int from_file) {
    char what[96];
    snprintf(what, sizeof what, "GetFileInfo(%s, %s)", from_file ? "file" : "memory",
             ignore_case ? "ignoring case" : "exact");
    FileInfoRecord record;
    memset(&record, 0xA5, sizeof record);
    FileInfoRecord before = record;
    uint32_t flag = (ignore_case ? MATCH_IGNORE_CASE : 0) | (from_file ? SOURCE_FILE : SOURCE_MEMORY);
    int32_t got = from_file ? call_get_file_info(t->in.p, t->listed.c_str(), (LONG_PTR)t->prefix,
                                                  name.c_str(), flag, &record)
                            : call_get_file_info(t->in.p, (const char *)t->in.image,
                                                  (LONG_PTR)t->in.input.size, name.c_str(), flag,
                                                  &record);
    ++t->in.run->calls;
    if (!t->dir.ok) {
        expect_code(&t->in, what, got, RESULT_UNKNOWN_FORMAT);
        if (memcmp(&record, &before, sizeof record) != 0)
            contract_fail(t->in.run, "%s: failed check wrote the host's record", what);
    } else {
        const FpkListed *match = nullptr;
        for (const FpkListed &e : t->dir.entries)
            if (sought_name_matches(t->in.run->plugin, e.name, name, ignore_case)) {
                match = &e;
                break;
            }
        if (match) {
            FileInfoRecord want = ref_record<FileInfoRecord>(*match);
            if (expect_code(&t->in, what, got, RESULT_OK) && check_record(t, what, &record, *match) &&
                memcmp(&record, &want, sizeof record) != 0)
                contract_fail(t->in.run, "%s: a byte without meaning is not 0", what);
        } else {
            expect_code(&t->in, what, got, RESULT_READ_ERROR);
            if (record.method[0] != '\0')
                contract_fail(t->in.run, "%s: no match, but method's first byte is not 0", what);
        }
    }
    blocks_back(&t->in, what);
}

// GetFile from the archive file at `position`, as the directory says it ends.
Expected expect_member(Tolvane *t, uint32_t position) {
    Expected e = {RESULT_READ_ERROR, "", "", 0, 0};
    if (position > LAST_POSITION) return e;
    if (!t->dir.ok) {
        e.code = RESULT_UNKNOWN_FORMAT;
        return e;
    }
    for (const FpkListed &entry : t->dir.entries)
        if (entry.offset == position) {
            e.code = RESULT_OK;
            e.name = entry.name;
            e.size = entry.size;
            if ((uint64_t)position + entry.size > t->in.input.size) {
                e.code = RESULT_READ_ERROR;
                e.cut = 1;
            }
            return e;
        }
    return e;
}

// Calls GetFile and checks the code, the progress reports and the user
// value; *due says whether the code was an accepted one. `write_may_fail`:
// the platform may refuse the output path, so a failed write
// (RESULT_INTERNAL_ERROR) is accepted in place of success.
int32_t checked_get_file(Tolvane *t, const char *what, const char *src, LONG_PTR len, char *dest,
                         uint32_t flag, int with_callback, size_t cancel_at, const Expected &want,
                         int write_may_fail, int *due) {
    Progress progress = {{}, cancel_at, (LONG_PTR)0x5A17 + (LONG_PTR)cancel_at, 0};
    int32_t primary = want.code;
    // The reports are known: those of a member read whole, or none for a cut one.
    int reads = want.code == RESULT_OK || want.cut;
    std::vector<std::pair<int32_t, int32_t>> reports;
    if (reads && with_callback) {
        if (!want.cut) reports = fpk_reference_reports(want.size);
        if (cancel_at < reports.size()) {
            reports.resize(cancel_at + 1);
            primary = RESULT_CANCELLED;
        }
    }
    current_progress = &progress;
    int32_t got = call_get_file(t->in.p, src, len, dest, flag, with_callback ? record_progress : nullptr,
                                 progress.user);
    current_progress = nullptr;
    ++t->in.run->calls;
    int accepted = got == primary;
    if (got == RESULT_INTERNAL_ERROR && primary == RESULT_OK && write_may_fail)
        accepted = 1;
    // A refused name may be found before or after the member is read.
    if (got == RESULT_CANCELLED && want.code == RESULT_INTERNAL_ERROR && with_callback &&
        cancel_at < fpk_reference_reports(want.size).size())
        accepted = 1;
    if (!accepted) expect_code(&t->in, what, got, primary);
    if (progress.wrong_user) contract_fail(t->in.run, "%s: callback got another user value", what);
    if (with_callback && got == primary && reads && progress.reports != reports) {
        std::string seen;
        for (auto &r : progress.reports)
            seen += "(" + std::to_string(r.first) + "," + std::to_string(r.second) + ")";
        contract_fail(t->in.run, "%s: %zu reports, expected %zu: %.200s", what,
                      progress.reports.size(), reports.size(), seen.c_str());
    }
    *due = accepted;
    return got;
}

void extract_to_memory(Tolvane *t, uint32_t position, int with_callback, size_t cancel_at) {
    char what[96];
    snprintf(what, sizeof what, "GetFile(file at %u, to memory%s)", position,
             with_callback ? ", callback" : "");
    Expected want = expect_member(t, position);
    // A cut member is refused before its block: any size it claims is cheap.
    if (want.code == RESULT_OK && want.size > t->in.run->member_cap) return;
    if (want.code == RESULT_OK) want.bytes = view_bytes(t->in.input, position, want.size);
    HLOCAL block = UNTOUCHED;
    int due = 0;
    int32_t got = checked_get_file(t, what, t->archive.c_str(), (LONG_PTR)(ULONG_PTR)position,
                                (char *)&block, SOURCE_FILE | DEST_MEMORY, with_callback,
                                cancel_at, want, 0, &due);
    if (got == RESULT_OK && due) {
        std::string bytes;
        if (contract_take_block(t->in.run, block, want.size, &bytes, what) && bytes != want.bytes)
            contract_fail(t->in.run, "%s: the block is not the member's bytes", what);
    } else if (got == RESULT_OK) {
        LocalFree(block);  // success where a failure was due
    } else if (block != UNTOUCHED) {
        contract_fail(t->in.run, "%s: failed call changed the host's variable", what);
    }
    blocks_back(&t->in, what);
}

// The member as written in the folder, found the way the platform resolves
// the name the plug-in appended.
std::string member_output_path(Tolvane *t, const std::string &name) {
    std::string local = name;
#ifndef _WIN32
    for (char &c : local)
        if (c == '\\') c = '/';
#endif
    return contract_join(t->out, local);
}

void extract_to_folder(Tolvane *t, const char *src, LONG_PTR len, uint32_t flag,
                       const Expected &want_member, int with_callback, size_t cancel_at) {
    char what[128];
    snprintf(what, sizeof what, "GetFile(%s, to folder%s, member \"%s\")",
             (flag & SOURCE_KIND_MASK) == SOURCE_MEMORY ? "memory" : "file",
             with_callback ? ", callback" : "", want_member.name.c_str());
    Expected want = want_member;
    int may_fail = 0;
    int refused = 0;
    if (want.code == RESULT_OK || want.cut) {
        // A cut member is refused before its block: any size it claims is cheap.
        if (want.code == RESULT_OK && want.size > t->in.run->member_cap) return;
        refused = name_leaves_folder(want.name) ||
                  t->out.size() + 1 + want.name.size() > OUTPUT_PATH_MAX;
        if (refused) {
            // A cut member fails before its name is looked at; no file is
            // put in the place it names.
            if (want.cut) may_fail = 1;
            else want.code = RESULT_INTERNAL_ERROR;
        } else if (!name_is_plain(want.name)) {
            may_fail = 1;  // a sub-folder that does not exist, or the folder itself
        }
    }
    std::string path = member_output_path(t, want.name);
    // A file already in place: cut to the member when it is written, left as
    // it was when the member is cut short.
    int plain = (want.code == RESULT_OK || want.cut) && !may_fail;
    int stale = plain && with_callback && (want.cut || cancel_at >= fpk_reference_reports(want.size).size());
    std::string old;
    if (stale) {
        old.assign((want.cut ? 0 : want.size) + 13, '\xEE');  // a cut member writes nothing
        write_whole_file(path, (const uint8_t *)old.data(), old.size());
    }
    std::vector<char> dest(t->out.begin(), t->out.end());
    dest.push_back('\0');
    int due = 0;
    int32_t got = checked_get_file(t, what, src, len, dest.data(), flag, with_callback, cancel_at,
                                want, may_fail, &due);
    std::string bytes;
    if (got == RESULT_OK && due) {
        if (!contract_read_file(path, &bytes))
            contract_fail(t->in.run, "%s: succeeded but wrote no file", what);
        else if (bytes != want.bytes)
            contract_fail(t->in.run, "%s: succeeded but the file holds %zu bytes, not the member's %u",
                          what, bytes.size(), want.size);
    } else if (stale && want.cut && got != RESULT_OK) {
        if (!contract_read_file(path, &bytes) || bytes != old)
            contract_fail(t->in.run, "%s: failed with %d but changed the file already there", what,
                          got);
        remove(path.c_str());
        if (!contract_folder_empty(t->out))
            contract_fail(t->in.run, "%s: failed with %d but wrote into the folder", what, got);
    } else if (got != RESULT_INTERNAL_ERROR && !contract_folder_empty(t->out)) {
        contract_fail(t->in.run, "%s: failed with %d but wrote into the folder", what, got);
    } else if (refused && !contract_folder_empty(t->out)) {
        contract_fail(t->in.run, "%s: refused name, but something was created", what);
    }
    contract_empty_folder(t->out);
    blocks_back(&t->in, what);
}

void extract_from_memory(Tolvane *t, int with_callback, size_t cancel_at) {
    const char *what = with_callback ? "GetFile(memory, to memory, callback)"
                                     : "GetFile(memory, to memory)";
    uint32_t size = (uint32_t)t->in.input.size;
    if (size > t->in.run->member_cap) return;
    // The image is the member: it holds every byte, nothing is cut.
    Expected want = {size == 0 ? RESULT_MEMORY_ERROR : RESULT_OK, "noname",
                     std::string((const char *)t->in.image, size), size, 0};
    HLOCAL block = UNTOUCHED;
    int due = 0;
    int32_t got = checked_get_file(t, what, (const char *)t->in.image, (LONG_PTR)size,
                                (char *)&block, SOURCE_MEMORY | DEST_MEMORY, with_callback,
                                cancel_at, want, 0, &due);
    if (got == RESULT_OK && due) {
        std::string bytes;
        if (contract_take_block(t->in.run, block, size, &bytes, what) && bytes != want.bytes)
            contract_fail(t->in.run, "%s: the block is not the image's bytes", what);
    } else if (got == RESULT_OK) {
        LocalFree(block);
    } else if (block != UNTOUCHED) {
        contract_fail(t->in.run, "%s: failed call changed the host's variable", what);
    }
    blocks_back(&t->in, what);
    if (size > 0) {
        want.bytes.assign((const char *)t->in.image, size);
        extract_to_folder(t, (const char *)t->in.image, (LONG_PTR)size, SOURCE_MEMORY | DEST_FILE,
                          want, 0, 0);
    }
}

// A host's null pointers: no record, or a memory image at address 0 that
// claims bytes. Refused before anything is read, the host's variables and
// record as they were.
void refuse_null_pointers(Tolvane *t) {
    const char *what = "null pointers";
    LONG_PTR claimed = (LONG_PTR)t->in.input.size + 1;
    int32_t got = call_get_file_info(t->in.p, (const char *)t->in.image, (LONG_PTR)t->in.input.size, "m0",
                                      SOURCE_MEMORY, nullptr);
    expect_code(&t->in, "GetFileInfo(no record)", got, RESULT_INTERNAL_ERROR);
    HLOCAL info = UNTOUCHED;
    got = call_get_archive_info(t->in.p, nullptr, claimed, SOURCE_MEMORY, &info);
    expect_code(&t->in, "GetArchiveInfo(image at 0)", got, RESULT_INTERNAL_ERROR);
    if (info != nullptr) contract_fail(t->in.run, "GetArchiveInfo(image at 0): host's variable not null");
    expect_record_kept<FileInfoRecord>(&t->in, "GetFileInfo(image at 0)", [&](FileInfoRecord *r) {
        return call_get_file_info(t->in.p, nullptr, claimed, "m0", SOURCE_MEMORY, r);
    });
    HLOCAL block = UNTOUCHED;
    got = call_get_file(t->in.p, nullptr, claimed, (char *)&block, SOURCE_MEMORY | DEST_MEMORY, nullptr, 0);
    expect_code(&t->in, "GetFile(image at 0)", got, RESULT_INTERNAL_ERROR);
    if (block != UNTOUCHED) contract_fail(t->in.run, "GetFile(image at 0): changed the host's variable");
    t->in.run->calls += 4;
    blocks_back(&t->in, what);
}

void refuse_destination_kind(Tolvane *t) {
    HLOCAL block = UNTOUCHED;
    uint32_t kind = 0x200u + ((uint32_t)(choice(t->in.input, 4) % 6) << 8);  // 0x200 .. 0x700
    int32_t got = call_get_file(t->in.p, t->archive.c_str(), 0, (char *)&block, SOURCE_FILE | kind,
                                 nullptr, 0);
    ++t->in.run->calls;
    expect_code(&t->in, "GetFile(unknown destination kind)", got, RESULT_INTERNAL_ERROR);
    if (block != UNTOUCHED)
        contract_fail(t->in.run, "GetFile(unknown destination kind): changed the host's variable");
    blocks_back(&t->in, "GetFile(unknown destination kind)");
}

}  // namespace

void tolvane_contract(ContractRun *run, const uint8_t *data, size_t size) {
    Tolvane t;
    t.in = contract_input(run, data, size);
    t.dir = ref_directory(t.in.input, 0, ALL_ENTRIES);
    t.prefix = choice(t.in.input, 0) % 23;
    t.archive = contract_join(run->scratch, "a.fpk");
    t.listed = contract_join(run->scratch, "p.fpk");
    t.out = contract_join(run->scratch, "out");
    if (!contract_input_file(&t.in, t.archive, 0, 0) || !contract_input_file(&t.in, t.listed, t.prefix, '\xA0')) {
        contract_input_end(&t.in);
        return;
    }
    if (!contract_make_folder(t.out)) {
        contract_fail(run, "cannot make the output folder %s", t.out.c_str());
        contract_input_end(&t.in);
        return;
    }
    contract_empty_folder(t.out);

    check_probe_buffer(&t);
    check_probe_handle(&t);
    check_listing(&t, 0);
    check_listing(&t, 1);

    // Names from the listing (and their case swapped), from the input's tail, and none.
    std::vector<std::string> names;
    const std::vector<FpkListed> &entries = t.dir.entries;
    for (size_t i = 0; i < entries.size() && i < 4; ++i) names.push_back(entries[i].name);
    if (entries.size() > 4) names.push_back(entries.back().name);
    for (size_t i = 0; i < entries.size() && i < 2; ++i) names.push_back(swap_case(entries[i].name));
    std::string tail;
    for (size_t i = size > 16 ? size - 16 : 0; i < size && data[i] != 0; ++i)
        tail.push_back((char)data[i]);
    names.push_back(tail);
    names.push_back("");
    for (size_t i = 0; i < names.size(); ++i) {
        find_member(&t, names[i], 0, i % 3 == 0);
        find_member(&t, names[i], 1, i % 3 == 1);
    }

    // Positions from the listing, from the input, and ones that match nothing.
    std::vector<uint32_t> positions;
    for (size_t i = 0; i < entries.size() && i < 3; ++i) positions.push_back(entries[i].offset);
    if (entries.size() > 3) positions.push_back(entries.back().offset);
    if (!entries.empty()) positions.push_back(entries[0].offset + 1);
    positions.push_back((uint32_t)choice(t.in.input, 5) | (uint32_t)choice(t.in.input, 6) << 8);
    positions.push_back(0);
    for (size_t i = 0; i < positions.size(); ++i) {
        size_t cancel_at = choice(t.in.input, 7 + i) % 40;
        extract_to_memory(&t, positions[i], 0, 0);
        extract_to_memory(&t, positions[i], 1, cancel_at);
        if (!run->failure.empty()) break;
    }
    // Into the folder: the first member and one the input picks.
    if (!entries.empty()) {
        const FpkListed &pick = entries[choice(t.in.input, 8) % entries.size()];
        const FpkListed *targets[2] = {&entries[0], &pick};
        for (int i = 0; i < 2; ++i) {
            Expected want = expect_member(&t, targets[i]->offset);
            if (want.code == RESULT_OK && want.size <= run->member_cap)
                want.bytes = view_bytes(t.in.input, targets[i]->offset, want.size);
            extract_to_folder(&t, t.archive.c_str(), (LONG_PTR)(ULONG_PTR)targets[i]->offset,
                              SOURCE_FILE | DEST_FILE, want, i, choice(t.in.input, 9) % 40);
        }
    }
    extract_from_memory(&t, 0, 0);
    extract_from_memory(&t, 1, choice(t.in.input, 10) % 40);
    refuse_destination_kind(&t);
    // Now and then, as the input's byte says.
    if (choice(t.in.input, 11) % 4 == 0) refuse_null_pointers(&t);

    contract_input_end(&t.in);
    remove(t.archive.c_str());
    remove(t.listed.c_str());
    contract_empty_folder(t.out);
    contract_remove_folder(t.out);
}
