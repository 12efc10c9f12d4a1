// GetArchiveInfo and GetFileInfo: the members of an archive as FileInfoRecords.
#include <string.h>

#include "checked.h"
#include "fpk_directory.h"
#include "source.h"

namespace {

void fpk_fill_record(FileInfoRecord *r, const FpkDirectoryEntry *e) {
    r->position = e->offset;
    r->packed_size = e->size;
    r->size = e->size;
    r->timestamp = 0;
    r->crc = 0;
    r->path[0] = '\0';
    strcpy(r->file_name, e->name);
    // An FPK member is stored, not packed: the method is a single blank.
    r->method[0] = ' ';
    r->method[1] = '\0';
}

}  // namespace

SPI_EXPORT int32_t WINAPI GetArchiveInfo(const char *buf, LONG_PTR len, uint32_t flag,
                                         HLOCAL *info) {
    SourceStream s;
    FpkDirectory dir = {};
    FileInfoRecord *records = nullptr;
    uint32_t size = 0;
    if (!source_open(&s, buf, len, flag)) goto done;
    if (!fpk_directory_read(&s, &dir)) goto done;
    // The list and its terminator record; the largest counts exceed 32 bits.
    if (!checked_mul_u32(dir.count + 1, (uint32_t)sizeof(FileInfoRecord), &size)) {
        *info = nullptr;
        source_fail(&s, RESULT_NO_MEMORY, 0);
        goto done;
    }
    if (!block_alloc(&s, info, (void **)&records, size)) goto done;
    for (uint32_t i = 0; i < dir.count; ++i) {
        FpkDirectoryEntry e;
        fpk_directory_entry(&dir, i, &e);
        fpk_fill_record(&records[i], &e);
    }
    records[dir.count].method[0] = '\0';
    LocalUnlock(*info);
    records = nullptr;
done:
    if (records) block_release(info);
    fpk_directory_release(&dir);
    source_close(&s);
    return s.code;
}

// The first member whose stored name equals `filename`, compared whole.
SPI_EXPORT int32_t WINAPI GetFileInfo(const char *buf, LONG_PTR len, const char *filename,
                                      uint32_t flag, FileInfoRecord *record) {
    SourceStream s;
    FpkDirectory dir = {};
    int ignore_case = (flag & MATCH_IGNORE_CASE) != 0;
    if (!source_open(&s, buf, len, flag)) goto done;
    if (!fpk_directory_read(&s, &dir)) goto done;
    record->method[0] = '\0';
    for (uint32_t i = 0; filename && i < dir.count; ++i) {
        FpkDirectoryEntry e;
        fpk_directory_entry(&dir, i, &e);
        int differs = ignore_case ? _stricmp(e.name, filename) : strcmp(e.name, filename);
        if (differs) continue;
        fpk_fill_record(record, &e);
        break;
    }
    if (record->method[0] == '\0') source_fail(&s, RESULT_READ_ERROR, 0);
done:
    fpk_directory_release(&dir);
    source_close(&s);
    return s.code;
}
