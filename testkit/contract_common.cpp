#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <system_error>

#include "contract.h"
#include "contract_harness.h"
#include "spi_result.h"

namespace fs = std::filesystem;

std::string contract_join(const std::string &dir, const std::string &name) {
#ifdef _WIN32
    return dir + "\\" + name;
#else
    return dir + "/" + name;
#endif
}

int contract_read_file(const std::string &path, std::string *out) {
    Bytes bytes;
    int ok = read_whole_file(path, &bytes);
    out->assign(bytes.begin(), bytes.end());
    return ok;
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

int64_t live_blocks() {
#ifdef _WIN32
    return 0;
#else
    return winlayer_live_blocks();
#endif
}

int64_t contract_live_blocks(const ContractRun *run) { return run->count_blocks ? live_blocks() : 0; }

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

const char *take_block(HLOCAL block, Bytes *out) {
    out->clear();
    if (!block) return "no block handed over";
    SIZE_T size = LocalSize(block);
    void *p = LocalLock(block);
    const char *wrong = nullptr;
    if (!p && size > 0) {
        wrong = "the handed-over block cannot be locked";
    } else if (p) {
        out->assign((const uint8_t *)p, (const uint8_t *)p + size);
        // Our lock must have been the only one: the block came unlocked.
        if (LocalUnlock(block)) {
            LocalUnlock(block);
            wrong = "the block was handed over still locked";
        }
    }
    if (LocalFree(block) != nullptr && !wrong) wrong = "LocalFree of the handed-over block failed";
    return wrong;
}

int contract_take_block(ContractRun *run, HLOCAL block, size_t size, std::string *out,
                        const char *what) {
    Bytes bytes;
    const char *wrong = take_block(block, &bytes);
    out->assign(bytes.begin(), bytes.end());
    if (wrong) return contract_fail(run, "%s: %s", what, wrong);
    if (bytes.size() != size)
        return contract_fail(run, "%s: block of %zu bytes, expected %zu", what, bytes.size(), size);
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

ContractInput contract_input(ContractRun *run, const uint8_t *data, size_t size) {
    ContractInput in;
    in.run = run;
    in.p = run->plugin;
    in.input = View{data, size};
    in.image = (uint8_t *)malloc(size ? size : 1);
    if (size) memcpy(in.image, data, size);
    in.live_at_start = contract_live_blocks(run);
    return in;
}

void contract_input_end(ContractInput *in) {
    free(in->image);
    in->image = nullptr;
}

int contract_input_file(ContractInput *in, const std::string &path, uint32_t prefix, char fill) {
    std::string bytes(prefix, fill);
    bytes.append((const char *)in->image, in->input.size);
    if (write_whole_file(path, (const uint8_t *)bytes.data(), bytes.size())) return 1;
    return contract_fail(in->run, "cannot write the scratch file %s", path.c_str());
}

int blocks_back(ContractInput *in, const char *what) {
    int64_t live = contract_live_blocks(in->run);
    if (live != in->live_at_start)
        return contract_fail(in->run, "%s: %lld blocks left allocated", what,
                             (long long)(live - in->live_at_start));
    return 1;
}

static const char *code_name(int32_t code) {
    const SpiResultText *text = spi_result_text(code);
    return text ? text->name : "not an interface code";
}

int expect_code(ContractInput *in, const char *what, int32_t got, int32_t want) {
    if (got == want) return 1;
    return contract_fail(in->run, "%s: result %d (%s), expected %d (%s)", what, got, code_name(got), want,
                         code_name(want));
}
