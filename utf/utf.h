// UTF-8 and UTF-16, converted in one place for the host side: spihost, the
// test and benchmark hosts (host/) and the native Win32 layer (winlayer/).
//
// The rule for what is not well-formed is written here once:
//
// - UTF-16 to UTF-8 always succeeds. A surrogate pair becomes its four-byte
//   form; an unpaired surrogate (a lone U+D800..U+DFFF, which a Windows file
//   name may hold) becomes the three-byte form of its value, as WTF-8 writes
//   it. Every UTF-16 string so has exactly one 8-bit form, and U+0000 is the
//   byte 0.
// - UTF-8 to UTF-16 takes the caller's rule, by name:
//   UTF_EXACT    the inverse of the above: well-formed UTF-8 and the
//                three-byte forms of surrogates, nothing else. A byte that
//                starts no sequence, a sequence cut short, an overlong form
//                and a value past U+10FFFF are refused: the conversion
//                answers 0. What UTF-16 to UTF-8 wrote comes back unchanged,
//                so a name passed through 8-bit text and back names the same
//                file.
//   UTF_LATIN1_BYTES  as UTF_EXACT, but every byte that UTF_EXACT would
//                refuse stands for the character of its own value
//                (U+0080..U+00FF, as Latin-1 reads it) and the next sequence
//                starts at the byte after it. Never refuses: every byte
//                string has a UTF-16 form. For hosts that hand any 8-bit
//                text to the wide exports, as the tests do.
#pragma once

#include <stddef.h>

#include <string>

enum UtfRule {
    UTF_EXACT,
    UTF_LATIN1_BYTES,
};

// `n` units of `in` as UTF-8 into `out`.
void utf8_from_utf16(const char16_t *in, size_t n, std::string *out);

// `n` bytes of `in` as UTF-16 into `out` by `rule`. Answers 0 when the rule
// refuses the input (`out` then holds nothing).
int utf16_from_utf8(const char *in, size_t n, UtfRule rule, std::u16string *out);

// The same for NUL-terminated strings.
std::string utf8_from_utf16(const char16_t *in);
int utf16_from_utf8(const char *in, UtfRule rule, std::u16string *out);
