// 8-bit text in the system's code page and UTF-16, converted in one place for
// every host of ours on Windows: the host adapter (host/), the tests and the
// ARM64 transcript host. The code page is CP_ACP, the one Windows gives
// programs that are not Unicode and so the one the plug-ins' 8-bit exports
// see names in. Natively 8-bit names are UTF-8 and need no conversion.
//
// Windows only, and KERNEL32 only: no C runtime, so that the transcript host,
// which links nothing else, converts by the same rule.
//
// The rule for what the code page cannot write is the caller's, by name:
//   CODE_PAGE_EXACT  text the code page cannot write character for character
//                    is refused (the conversion answers 0), so that a name
//                    converted names the same file.
//   CODE_PAGE_LOSSY  such characters become the code page's nearest one or
//                    its default one ('?'), as Windows converts for a program
//                    that is not Unicode.
#pragma once

#include <stdint.h>

enum CodePageRule {
    CODE_PAGE_EXACT,
    CODE_PAGE_LOSSY,
};

// `n` UTF-16 units at `in` (n >= 1) into at most `size` bytes at `out`, no
// terminator added unless it is among the units; with `out` null and `size` 0
// it only measures. Answers the bytes written or needed; 0 when the rule
// refuses the text or it does not fit.
int32_t code_page_from_utf16(const char16_t *in, int32_t n, CodePageRule rule, char *out,
                             int32_t size);

// `n` bytes at `in` (n >= 1) into at most `size` UTF-16 units at `out`, or
// only measured as above. Every byte string converts; answers 0 only when it
// does not fit.
int32_t utf16_from_code_page(const char *in, int32_t n, char16_t *out, int32_t size);
