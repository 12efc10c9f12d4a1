#include "fpk_listing.h"

#include <string.h>

#include "checked.h"
#include "fpk_directory.h"
#include "fpk_source.h"

namespace {

// Member names pass the name rule, so they are 7-bit: each byte widens to
// one UTF-16 unit exactly.
void fpk_copy_name(char *out, const char *name) { strcpy(out, name); }
void fpk_copy_name(char16_t *out, const char *name) {
    do *out++ = (unsigned char)*name;
    while (*name++);
}

template <typename Record>
void fpk_fill_record(Record *r, const FpkDirectoryEntry *e) {
    r->position = e->offset;
    r->packed_size = e->size;
    r->size = e->size;
    r->timestamp = 0;
    r->crc = 0;
    r->path[0] = 0;
    fpk_copy_name(r->file_name, e->name);
    // An FPK member is stored, not packed: the method is a single blank.
    r->method[0] = ' ';
    r->method[1] = '\0';
}

// Record `index` of an array of the records the export hands out. The bytes
// the format gives no meaning are not written: the caller has cleared them.
void fpk_fill_record_at(void *records, uint32_t index, int32_t wide, const FpkDirectoryEntry *e) {
    if (wide)
        fpk_fill_record((FileInfoRecordW *)records + index, e);
    else
        fpk_fill_record((FileInfoRecord *)records + index, e);
}

// `member` equals `sought` whole: byte for byte, or folding ASCII letters.
// Member names are 7-bit, so a UTF-16 unit above 0x7F never matches.
int fpk_name_matches(const char *member, HostInput sought, int ignore_case) {
    if (!sought.wide) {
        const char *text = (const char *)sought.data;
        return (ignore_case ? _stricmp(member, text) : strcmp(member, text)) == 0;
    }
    const char16_t *text = (const char16_t *)sought.data;
    for (uint32_t i = 0;; ++i) {
        uint32_t a = (unsigned char)member[i];
        uint32_t b = text[i];
        if (ignore_case) {
            if (a >= 'A' && a <= 'Z') a += 'a' - 'A';
            if (b >= 'A' && b <= 'Z') b += 'a' - 'A';
        }
        if (a != b) return 0;
        if (a == 0) return 1;
    }
}

}  // namespace

// The whole list: one record a member, then one of zeros. Every byte that a
// record leaves without meaning is 0, so two listings of an archive are the
// same bytes. The host's variable is null on every failure and holds the
// list only on success.
int32_t fpk_list_members(HostInput buf, LONG_PTR len, uint32_t flag, HLOCAL *info) {
    // Without a variable to receive it, a list cannot be handed over.
    if (!info) return RESULT_INTERNAL_ERROR;
    SourceStream s;
    FpkDirectory dir = {};
    HLOCAL list = nullptr;
    uint8_t *records = nullptr;
    uint32_t record_size = buf.wide ? sizeof(FileInfoRecordW) : sizeof(FileInfoRecord);
    uint32_t size = 0;
    *info = nullptr;
    if (!source_open(&s, buf, len, flag)) goto done;
    if (!fpk_directory_read(&s, &dir)) goto done;
    // The list and its terminator record; the largest counts exceed 32 bits.
    if (!checked_mul_u32(dir.count + 1, record_size, &size)) {
        source_fail(&s, RESULT_NO_MEMORY, 0);
        goto done;
    }
    // Cleared as it is had: the fill then writes only the meaningful bytes.
    if (!block_alloc_cleared(&s, &list, (void **)&records, size)) goto done;
    for (uint32_t i = 0; i < dir.count; ++i) {
        FpkDirectoryEntry e;
        fpk_directory_entry(&dir, i, &e);
        fpk_fill_record_at(records, i, buf.wide, &e);
    }
    LocalUnlock(list);
    *info = list;
    records = nullptr;
done:
    if (records) block_release(&list);
    fpk_directory_release(&dir);
    source_close(&s);
    return s.code;
}

// The first member whose stored name equals `filename`, compared whole, in
// the host's record, cleared first as a listed record is.
int32_t fpk_find_member(HostInput buf, LONG_PTR len, HostInput filename, uint32_t flag,
                        void *record) {
    // Without a record to fill there is nothing to answer with.
    if (!record) return RESULT_INTERNAL_ERROR;
    SourceStream s;
    FpkDirectory dir = {};
    int ignore_case = (flag & MATCH_IGNORE_CASE) != 0;
    // `method` opens both kinds of record; its first byte 0 means no match.
    char *method = (char *)record;
    if (!source_open(&s, buf, len, flag)) goto done;
    if (!fpk_directory_read(&s, &dir)) goto done;
    method[0] = '\0';
    for (uint32_t i = 0; filename.data && i < dir.count; ++i) {
        FpkDirectoryEntry e;
        fpk_directory_entry(&dir, i, &e);
        if (!fpk_name_matches(e.name, filename, ignore_case)) continue;
        memset(record, 0, filename.wide ? sizeof(FileInfoRecordW) : sizeof(FileInfoRecord));
        fpk_fill_record_at(record, 0, filename.wide, &e);
        break;
    }
    if (method[0] == '\0') source_fail(&s, RESULT_READ_ERROR, 0);
done:
    fpk_directory_release(&dir);
    source_close(&s);
    return s.code;
}
