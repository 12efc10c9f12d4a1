#include "utf.h"

#include <stdint.h>
#include <string.h>

namespace {

int utf_is_high(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
int utf_is_low(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void utf_put_utf8(uint32_t c, std::string *out) {
    if (c < 0x80) {
        out->push_back((char)c);
    } else if (c < 0x800) {
        out->push_back((char)(0xC0 | c >> 6));
        out->push_back((char)(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back((char)(0xE0 | c >> 12));
        out->push_back((char)(0x80 | (c >> 6 & 0x3F)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    } else {
        out->push_back((char)(0xF0 | c >> 18));
        out->push_back((char)(0x80 | (c >> 12 & 0x3F)));
        out->push_back((char)(0x80 | (c >> 6 & 0x3F)));
        out->push_back((char)(0x80 | (c & 0x3F)));
    }
}

// One sequence at the start of the `n` bytes at `b`: its value and length,
// or 0 when the bytes start no well-formed sequence (surrogates included).
size_t utf_decode(const uint8_t *b, size_t n, uint32_t *value) {
    uint32_t c = b[0];
    if (c < 0x80) {
        *value = c;
        return 1;
    }
    // The lead byte fixes the length; C0, C1 and F5 up lead only overlong
    // forms or values past U+10FFFF.
    size_t extra = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
    if (extra == 0 || n <= extra) return 0;
    c &= 0x3Fu >> extra;
    for (size_t k = 1; k <= extra; ++k) {
        if ((b[k] & 0xC0) != 0x80) return 0;
        c = c << 6 | (b[k] & 0x3F);
    }
    static const uint32_t SHORTEST[4] = {0, 0x80, 0x800, 0x10000};
    if (c < SHORTEST[extra] || c > 0x10FFFF) return 0;
    *value = c;
    return extra + 1;
}

}  // namespace

void utf8_from_utf16(const char16_t *in, size_t n, std::string *out) {
    out->clear();
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = in[i];
        if (utf_is_high(c) && i + 1 < n && utf_is_low(in[i + 1]))
            c = 0x10000 + ((c - 0xD800) << 10) + (in[++i] - 0xDC00u);
        utf_put_utf8(c, out);
    }
}

int utf16_from_utf8(const char *in, size_t n, UtfRule rule, std::u16string *out) {
    out->clear();
    const uint8_t *b = (const uint8_t *)in;
    // A high surrogate just written from its three-byte form: the low one
    // after it would make a pair, which has a four-byte form of its own.
    int after_lone_high = 0;
    for (size_t i = 0; i < n;) {
        uint32_t c = 0;
        size_t length = utf_decode(b + i, n - i, &c);
        if (length != 0 && after_lone_high && utf_is_low(c)) length = 0;
        if (length == 0) {
            if (rule == UTF_EXACT) {
                out->clear();
                return 0;
            }
            c = b[i];
            length = 1;
        }
        after_lone_high = utf_is_high(c);
        i += length;
        if (c >= 0x10000) {
            out->push_back((char16_t)(0xD800 + ((c - 0x10000) >> 10)));
            out->push_back((char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out->push_back((char16_t)c);
        }
    }
    return 1;
}

std::string utf8_from_utf16(const char16_t *in) {
    size_t n = 0;
    while (in[n]) ++n;
    std::string out;
    utf8_from_utf16(in, n, &out);
    return out;
}

int utf16_from_utf8(const char *in, UtfRule rule, std::u16string *out) {
    return utf16_from_utf8(in, strlen(in), rule, out);
}
