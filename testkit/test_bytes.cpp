#include "test_bytes.h"

#include <stdio.h>
#include <stdlib.h>

#include "utf.h"

void put_le16(Bytes &b, size_t at, uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2, 0);
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

void put_le32(Bytes &b, size_t at, uint32_t v) {
    put_le16(b, at, v & 0xFFFF);
    put_le16(b, at + 2, v >> 16);
}

static uint32_t byte_at(const uint8_t *data, size_t size, uint64_t at) {
    return at < size ? data[at] : 0;
}

uint32_t le16_at(const uint8_t *data, size_t size, uint64_t at) {
    return byte_at(data, size, at) | byte_at(data, size, at + 1) << 8;
}

uint32_t le32_at(const uint8_t *data, size_t size, uint64_t at) {
    return le16_at(data, size, at) | le16_at(data, size, at + 2) << 16;
}

Bytes pattern_bytes(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = (uint8_t)x;
    }
    return b;
}

uint32_t sweep_divisor() {
    const char *divisor = getenv("SPI_SWEEP_DIVISOR");
    uint32_t d = divisor ? (uint32_t)strtoul(divisor, nullptr, 10) : 1;
    return d > 1 ? d : 1;
}

uint32_t sweep_rounds(uint32_t full) {
    uint32_t rounds = full / sweep_divisor();
    return rounds > 0 ? rounds : 1;
}

// The whole-file helpers' one body: `f` is closed here.
static int write_all(FILE *f, const uint8_t *data, size_t size) {
    if (!f) return 0;
    size_t put = size ? fwrite(data, 1, size, f) : 0;
    return fclose(f) == 0 && put == size;
}

static int read_all(FILE *f, Bytes *out) {
    out->clear();
    if (!f) return 0;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + got);
    int ok = !ferror(f);
    fclose(f);
    return ok;
}

// A UTF-16 name opened as the system opens it: Windows takes it as it is,
// Linux as UTF-8.
static FILE *open_wide(const std::u16string &path, int write) {
#ifdef _WIN32
    return _wfopen((const wchar_t *)path.c_str(), write ? L"wb" : L"rb");
#else
    return fopen(utf8_from_utf16(path.c_str()).c_str(), write ? "wb" : "rb");
#endif
}

int write_whole_file(const std::string &path, const uint8_t *data, size_t size) {
    return write_all(fopen(path.c_str(), "wb"), data, size);
}

int write_whole_file(const std::u16string &path, const uint8_t *data, size_t size) {
    return write_all(open_wide(path, 1), data, size);
}

int read_whole_file(const std::string &path, Bytes *out) { return read_all(fopen(path.c_str(), "rb"), out); }

int read_whole_file(const std::u16string &path, Bytes *out) { return read_all(open_wide(path, 0), out); }

uint64_t random_next(TestRandom *r) {
    uint64_t z = (r->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t random_below(TestRandom *r, uint32_t below) {
    return below ? (uint32_t)(random_next(r) % below) : 0;
}

// Field values next to the boundaries the readers check: sizes and offsets
// of the headers, the sign bit, the largest directory.
static const uint32_t INTERESTING[] = {0,          1,          2,          0x10,       0x1F,
                                       0x20,       0x36,       0x42,       0x7F,       0x80,
                                       0xFF,       0x100,      0x7FFF,     0x8000,     0xFFFF,
                                       0x10000,    0x5555554,  0x5555555,  0x7FFFFFFE, 0x7FFFFFFF,
                                       0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};

// A position for an edit of `width` bytes in `n`: in the first `focus` bytes
// three times in four when a focus is given.
static uint32_t edit_at(TestRandom *r, uint32_t n, uint32_t width, uint32_t focus) {
    uint32_t span = n - width + 1;
    if (focus && random_below(r, 4) && focus < span) span = focus;
    return random_below(r, span);
}

Bytes mutate_bytes(const Bytes &seed, uint32_t focus, TestRandom *r) {
    Bytes b = seed;
    uint32_t edits = 1 + random_below(r, 4);
    for (uint32_t e = 0; e < edits; ++e) {
        uint32_t n = (uint32_t)b.size();
        switch (random_below(r, 8)) {
        case 0:  // one bit flipped
            if (n) b[edit_at(r, n, 1, focus)] ^= (uint8_t)(1u << random_below(r, 8));
            break;
        case 1:  // one random byte
            if (n) b[edit_at(r, n, 1, focus)] = (uint8_t)random_next(r);
            break;
        case 2:  // a value near a boundary, usually on a field boundary
        case 3: {
            if (n < 4) break;
            uint32_t at = edit_at(r, n, 4, focus);
            if (random_below(r, 3)) at &= ~1u;
            uint32_t v = INTERESTING[random_below(r, sizeof INTERESTING / sizeof INTERESTING[0])];
            if (random_below(r, 4) == 0) v += random_below(r, 5) - 2;
            put_le32(b, at, v);
            break;
        }
        case 4: {  // a field nudged by one, where most faults hide
            if (n < 4) break;
            uint32_t at = edit_at(r, n, 4, focus) & ~3u;
            put_le32(b, at, le32_at(b, at) + (random_below(r, 2) ? 1 : -1));
            break;
        }
        case 5:  // cut short
            if (n) b.resize(random_below(r, n));
            break;
        case 6: {  // random bytes appended
            uint32_t extra = 1 + random_below(r, 64);
            for (uint32_t i = 0; i < extra; ++i) b.push_back((uint8_t)random_next(r));
            break;
        }
        default: {  // a run of bytes copied elsewhere
            if (n < 8) break;
            uint32_t from = random_below(r, n), to = edit_at(r, n, 1, focus), len = 1 + random_below(r, 24);
            for (uint32_t i = 0; i < len && from + i < n && to + i < n; ++i) b[to + i] = b[from + i];
            break;
        }
        }
    }
    return b;
}
