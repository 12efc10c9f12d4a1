// The image plug-in's promises on one input, against a reference decoder
// written here in the plainest form: one pixel at a time, each channel by the
// mask rule, no tables.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "bmp16_reference.h"
#include "contract.h"

namespace {

constexpr uint64_t BLOCK_LIMIT = 0x7FFFFFFFu;
constexpr uint64_t POSITION_LIMIT = 0x7FFFFFFFu;
const HLOCAL UNTOUCHED = (HLOCAL)(uintptr_t)0x5EED0000u;

struct View {
    const uint8_t *data;
    size_t size;
};

uint8_t choice(View v, size_t i) { return i < v.size ? v.data[v.size - 1 - i] : 0; }

// The reference's rows as the block's bytes.
std::string ref_pixels(View v, const Bmp16Reference &b) {
    Bytes rows = bmp16_reference_rows(v.data, v.size, b);
    return std::string(rows.begin(), rows.end());
}

// The 24-bit header, its image size that of the rows handed over.
std::string ref_dib_header(const Bmp16Reference &b) {
    std::string h(40, '\0');
    // biSize, biWidth, biHeight, biPlanes 1 and biBitCount 24, BI_RGB, biSizeImage.
    uint32_t fields[6] = {40, (uint32_t)b.width, (uint32_t)b.height, 1 | 24u << 16, 0,
                          (uint32_t)(b.out_stride * (uint64_t)b.height)};
    for (int f = 0; f < 6; ++f)
        for (int i = 0; i < 4; ++i) h[4 * f + i] = (char)(fields[f] >> (8 * i));
    return h;
}

struct Pellimor {
    ContractRun *run;
    const PluginCalls *p;
    View input;
    const uint8_t *image;
    std::string file;  // `prefix` bytes, then the input
    uint32_t prefix;
    int64_t live_at_start;
    Bmp16Reference bmp;
};

int blocks_back(Pellimor *t, const char *what) {
    return contract_blocks_back(t->run, t->live_at_start, what);
}

int expect_code(Pellimor *t, const char *what, int32_t got, int32_t want) {
    if (got == want) return 1;
    return contract_fail(t->run, "%s: result %d, expected %d", what, got, want);
}

void probe(Pellimor *t, int by_handle) {
    const char *what = by_handle ? "IsSupported(handle)" : "IsSupported(buffer)";
    int want = t->bmp.ok;
    int32_t got;
    if (by_handle) {
        HANDLE h = CreateFileA(t->file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            contract_fail(t->run, "%s: cannot open the input file", what);
            return;
        }
        SetFilePointer(h, (LONG)t->prefix, nullptr, FILE_BEGIN);
        got = call_is_supported(t->p, t->file.c_str(), (void *)h);
        DWORD here = SetFilePointer(h, 0, nullptr, FILE_CURRENT);
        CloseHandle(h);
        if (here != t->prefix)
            contract_fail(t->run, "%s: handle left at %u, not %u", what, (unsigned)here,
                          t->prefix);
    } else {
        uint8_t *buffer = (uint8_t *)calloc(PROBE_BUFFER_SIZE, 1);
        size_t n = t->input.size < PROBE_BUFFER_SIZE ? t->input.size : PROBE_BUFFER_SIZE;
        if (n) memcpy(buffer, t->input.data, n);
        got = call_is_supported(t->p, "probe.bmp", buffer);
        free(buffer);
    }
    ++t->run->calls;
    if (got != want) contract_fail(t->run, "%s: answered %d, expected %d", what, got, want);
    blocks_back(t, what);
}

void picture_info(Pellimor *t, int from_file) {
    const char *what = from_file ? "GetPictureInfo(file)" : "GetPictureInfo(memory)";
    PictureInfoRecord record;
    memset(&record, 0xA5, sizeof record);
    PictureInfoRecord before = record;
    uint32_t extra = (uint32_t)choice(t->input, 2) << 3;
    int32_t got = from_file ? call_get_picture_info(t->p, t->file.c_str(), (LONG_PTR)t->prefix,
                                                     SOURCE_FILE | extra, &record)
                            : call_get_picture_info(t->p, (const char *)t->image,
                                                     (LONG_PTR)t->input.size,
                                                     SOURCE_MEMORY | extra, &record);
    ++t->run->calls;
    if (!t->bmp.ok) {
        expect_code(t, what, got, RESULT_UNKNOWN_FORMAT);
        if (memcmp(&record, &before, sizeof record) != 0)
            contract_fail(t->run, "%s: failed check wrote the host's record", what);
    } else if (expect_code(t, what, got, RESULT_OK)) {
        if (record.left != 0 || record.top != 0 || record.width != t->bmp.width ||
            record.height != t->bmp.height || record.x_density != 0 || record.y_density != 0 ||
            record.colour_depth != 16 || record.info_handle != nullptr)
            contract_fail(t->run, "%s: record is not (0, 0, %d, %d, 0, 0, 16, null)", what,
                          t->bmp.width, t->bmp.height);
    }
    blocks_back(t, what);
}

void preview(Pellimor *t) {
    HLOCAL info = UNTOUCHED, bits = UNTOUCHED;
    int32_t got = call_get_preview(t->p, (const char *)t->image, (LONG_PTR)t->input.size,
                                    SOURCE_MEMORY, &info, &bits, record_progress, 0);
    ++t->run->calls;
    expect_code(t, "GetPreview", got, RESULT_NOT_SUPPORTED);
    if (info != UNTOUCHED || bits != UNTOUCHED)
        contract_fail(t->run, "GetPreview: changed the host's variables");
    blocks_back(t, "GetPreview");
}

void picture(Pellimor *t, int from_file, int with_callback, size_t cancel_at) {
    char what[96];
    snprintf(what, sizeof what, "GetPicture(%s%s)", from_file ? "file" : "memory",
             with_callback ? ", callback" : "");
    const Bmp16Reference &b = t->bmp;
    int32_t want = RESULT_OK;
    int32_t also = RESULT_OK;  // a second acceptable code, when two failures meet
    uint64_t out_size = b.out_stride * (uint64_t)(b.height > 0 ? b.height : 0);
    if (!b.ok) {
        want = RESULT_UNKNOWN_FORMAT;
    } else {
        int too_big = out_size > BLOCK_LIMIT;
        int unreachable = from_file && b.pixels_at > BMP16_REF_MASKS_END &&
                          (uint64_t)t->prefix + b.pixels_at > POSITION_LIMIT;
        if (too_big) want = RESULT_NO_MEMORY;
        if (unreachable) {
            if (too_big) also = RESULT_READ_ERROR;
            else want = RESULT_READ_ERROR;
        }
        if (!too_big && !unreachable && out_size > t->run->member_cap) return;
    }
    std::vector<std::pair<int32_t, int32_t>> reports;
    if (want == RESULT_OK && with_callback) {
        for (int32_t i = 0; i <= b.height; ++i) reports.push_back({i, b.height});
        if (cancel_at < reports.size()) {
            reports.resize(cancel_at + 1);
            want = RESULT_CANCELLED;
        }
    }
    Progress progress = {{}, cancel_at, (LONG_PTR)0x3C0DE + (LONG_PTR)cancel_at, 0};
    HLOCAL info = UNTOUCHED, bits = UNTOUCHED;
    uint32_t extra = (uint32_t)choice(t->input, 3) << 3;
    current_progress = &progress;
    ProgressCallback cb = with_callback ? record_progress : nullptr;
    int32_t got = from_file
                      ? call_get_picture(t->p, t->file.c_str(), (LONG_PTR)t->prefix,
                                          SOURCE_FILE | extra, &info, &bits, cb, progress.user)
                      : call_get_picture(t->p, (const char *)t->image, (LONG_PTR)t->input.size,
                                          SOURCE_MEMORY | extra, &info, &bits, cb,
                                          progress.user);
    current_progress = nullptr;
    ++t->run->calls;
    if (got != want && !(also != RESULT_OK && got == also)) expect_code(t, what, got, want);
    if (progress.wrong_user) contract_fail(t->run, "%s: callback got another user value", what);
    if (got == RESULT_OK && want == RESULT_OK) {
        if (with_callback && progress.reports != reports)
            contract_fail(t->run, "%s: %zu progress reports, expected %zu", what,
                          progress.reports.size(), reports.size());
        std::string header, pixels;
        if (contract_take_block(t->run, info, 40, &header, what) &&
            header != ref_dib_header(b))
            contract_fail(t->run, "%s: information block is not the 24-bit header", what);
        if (contract_take_block(t->run, bits, (size_t)out_size, &pixels, what) &&
            pixels != ref_pixels(t->input, b)) {
            std::string ref = ref_pixels(t->input, b);
            size_t at = 0;
            while (at < ref.size() && ref[at] == pixels[at]) ++at;
            contract_fail(t->run, "%s: %dx%d masks %08x %08x %08x: pixels differ from byte %zu",
                          what, b.width, b.height, b.masks[0], b.masks[1], b.masks[2], at);
        }
    } else {
        if (got == RESULT_OK) {
            LocalFree(info);
            LocalFree(bits);
        } else if (info != nullptr || bits != nullptr) {
            contract_fail(t->run, "%s: failed with %d but the host's variables are not null",
                          what, got);
        }
        if (got == RESULT_CANCELLED && want == RESULT_CANCELLED && progress.reports != reports)
            contract_fail(t->run, "%s: cancelled after %zu reports, expected %zu", what,
                          progress.reports.size(), reports.size());
    }
    blocks_back(t, what);
}

// A host's null pointers: no record, a missing variable of the two, or a
// memory image at address 0 that claims bytes. Refused before anything is
// read; the variable that is there is null, the record as it was.
void refuse_null_pointers(Pellimor *t) {
    const char *image = (const char *)t->image;
    LONG_PTR size = (LONG_PTR)t->input.size, claimed = size + 1;
    int32_t got = call_get_picture_info(t->p, image, size, SOURCE_MEMORY, nullptr);
    expect_code(t, "GetPictureInfo(no record)", got, RESULT_INTERNAL_ERROR);
    PictureInfoRecord record, before;
    memset(&record, 0xA5, sizeof record);
    before = record;
    got = call_get_picture_info(t->p, nullptr, claimed, SOURCE_MEMORY, &record);
    expect_code(t, "GetPictureInfo(image at 0)", got, RESULT_INTERNAL_ERROR);
    if (memcmp(&record, &before, sizeof record) != 0)
        contract_fail(t->run, "GetPictureInfo(image at 0): wrote the host's record");
    HLOCAL info = UNTOUCHED, bits = UNTOUCHED;
    got = call_get_picture(t->p, image, size, SOURCE_MEMORY, nullptr, &bits, nullptr, 0);
    expect_code(t, "GetPicture(no info variable)", got, RESULT_INTERNAL_ERROR);
    got = call_get_picture(t->p, image, size, SOURCE_MEMORY, &info, nullptr, nullptr, 0);
    expect_code(t, "GetPicture(no bits variable)", got, RESULT_INTERNAL_ERROR);
    if (info != nullptr || bits != nullptr)
        contract_fail(t->run, "GetPicture(a variable missing): the other is not null");
    info = bits = UNTOUCHED;
    got = call_get_picture(t->p, nullptr, claimed, SOURCE_MEMORY, &info, &bits, nullptr, 0);
    expect_code(t, "GetPicture(image at 0)", got, RESULT_INTERNAL_ERROR);
    if (info != nullptr || bits != nullptr)
        contract_fail(t->run, "GetPicture(image at 0): the host's variables are not null");
    t->run->calls += 5;
    blocks_back(t, "null pointers");
}

}  // namespace

void pellimor_contract(ContractRun *run, const uint8_t *data, size_t size) {
    Pellimor t;
    t.run = run;
    t.p = run->plugin;
    t.input = View{data, size};
    t.live_at_start = contract_live_blocks(run);
    t.bmp = bmp16_reference_headers(data, size);
    t.prefix = choice(t.input, 0) % 3 == 0 ? 0 : choice(t.input, 1) % 29;
    t.file = contract_join(run->scratch, "b.bmp");
    uint8_t *image = (uint8_t *)malloc(size ? size : 1);
    if (size) memcpy(image, data, size);
    t.image = image;
    std::string bytes(t.prefix, 'B');
    if (size) bytes.append((const char *)data, size);
    if (!contract_write_file(t.file, (const uint8_t *)bytes.data(), bytes.size())) {
        contract_fail(run, "cannot write the scratch file in %s", run->scratch.c_str());
        free(image);
        return;
    }

    probe(&t, 0);
    probe(&t, 1);
    picture_info(&t, 0);
    picture_info(&t, 1);
    preview(&t);
    size_t rows = t.bmp.height > 0 ? (size_t)t.bmp.height : 0;
    picture(&t, 0, 0, 0);
    picture(&t, 0, 1, (size_t)-1);
    picture(&t, 1, 1, choice(t.input, 4) % (rows + 2));
    picture(&t, 1, 0, 0);
    // Now and then, as the input's byte says.
    if (choice(t.input, 5) % 4 == 0) refuse_null_pointers(&t);

    free(image);
    remove(t.file.c_str());
}
