#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <system_error>

#include "contract.h"

namespace fs = std::filesystem;

std::string contract_join(const std::string &dir, const std::string &name) {
#ifdef _WIN32
    return dir + "\\" + name;
#else
    return dir + "/" + name;
#endif
}

int contract_write_file(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    size_t put = size ? fwrite(data, 1, size, f) : 0;
    return fclose(f) == 0 && put == size;
}

int contract_read_file(const std::string &path, std::string *out) {
    out->clear();
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return 0;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) out->append(chunk, got);
    fclose(f);
    return 1;
}

int contract_folder_empty(const std::string &dir) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    return !ec && it == fs::directory_iterator();
}

void contract_empty_folder(const std::string &dir) {
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator(dir, ec)) {
        std::error_code ignored;
        fs::remove_all(e.path(), ignored);
    }
}

int contract_make_folder(const std::string &dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    return fs::is_directory(dir, ec);
}

void contract_remove_folder(const std::string &dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
}

int64_t contract_live_blocks(const ContractRun *run) {
#ifdef _WIN32
    (void)run;
    return 0;
#else
    return run->count_blocks ? winlayer_live_blocks() : 0;
#endif
}

std::string contract_list_text(const std::string &block, int wide) {
    std::string s;
    size_t step = plugin_list_record_size(wide);
    for (size_t at = 0; at + step <= block.size(); at += step) {
        FileInfoRecordW r;  // the wide layout holds either record's fields
        if (wide) {
            memcpy(&r, block.data() + at, sizeof r);
        } else {
            FileInfoRecord n;
            memcpy(&n, block.data() + at, sizeof n);
            memcpy(r.method, n.method, sizeof r.method);
            r.position = n.position;
            r.packed_size = n.packed_size;
            r.size = n.size;
            r.timestamp = n.timestamp;
            r.crc = n.crc;
            for (size_t i = 0; i < sizeof n.file_name; ++i) {
                r.path[i] = (unsigned char)n.path[i];
                r.file_name[i] = (unsigned char)n.file_name[i];
            }
        }
        if (r.method[0] == '\0') return s + "end";
        s += std::string(r.method, 2) + std::to_string(r.position) + "," +
             std::to_string(r.packed_size) + "," + std::to_string(r.size) + "," +
             std::to_string(r.timestamp) + "," + std::to_string(r.crc) + "," +
             std::to_string(r.path[0]);
        for (size_t i = 0; i + 1 < sizeof r.file_name / sizeof r.file_name[0] && r.file_name[i]; ++i) {
            char16_t u = r.file_name[i];
            char hex[8];
            snprintf(hex, sizeof hex, "\\u%04X", (unsigned)u);
            s += u > 0x7E ? std::string(hex) : std::string(1, (char)u);
        }
        s += ";";
    }
    return s + "no terminator";
}

int contract_fail(ContractRun *run, const char *format, ...) {
    if (!run->failure.empty()) return 0;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    run->failure = std::string(run->wide ? "wide exports: " : "8-bit exports: ") + text;
    return 0;
}

int contract_take_block(ContractRun *run, HLOCAL block, size_t size, std::string *out,
                        const char *what) {
    out->clear();
    if (!block) return contract_fail(run, "%s: no block handed over", what);
    SIZE_T held = LocalSize(block);
    if (held != size) {
        LocalFree(block);
        return contract_fail(run, "%s: block of %zu bytes, expected %zu", what, (size_t)held,
                             size);
    }
    void *p = LocalLock(block);
    if (!p) {
        LocalFree(block);
        return contract_fail(run, "%s: handed-over block cannot be locked", what);
    }
    out->assign((const char *)p, size);
    // Our lock must have been the only one: the block came unlocked.
    if (LocalUnlock(block)) {
        LocalUnlock(block);
        LocalFree(block);
        return contract_fail(run, "%s: block handed over still locked", what);
    }
    if (LocalFree(block) != nullptr) return contract_fail(run, "%s: LocalFree failed", what);
    return 1;
}

thread_local Progress *current_progress = nullptr;

int32_t WINAPI record_progress(int32_t done, int32_t total, LONG_PTR user) {
    Progress *p = current_progress;
    if (!p) return 1;
    if (user != p->user) p->wrong_user = 1;
    p->reports.push_back({done, total});
    return p->reports.size() - 1 == p->cancel_at ? 1 : 0;
}

int contract_blocks_back(ContractRun *run, int64_t live_at_start, const char *what) {
    int64_t live = contract_live_blocks(run);
    if (live != live_at_start)
        return contract_fail(run, "%s: %lld blocks left allocated", what,
                             (long long)(live - live_at_start));
    return 1;
}
