#include "code_page.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int32_t code_page_from_utf16(const char16_t *in, int32_t n, CodePageRule rule, char *out,
                             int32_t size) {
    // Without best fit, a character the code page lacks becomes the default
    // one, and `lost` says so.
    BOOL lost = FALSE;
    int written = rule == CODE_PAGE_EXACT
                      ? WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, (LPCWCH)in, n, out, size,
                                            nullptr, &lost)
                      : WideCharToMultiByte(CP_ACP, 0, (LPCWCH)in, n, out, size, nullptr, nullptr);
    return written > 0 && !lost ? written : 0;
}

int32_t utf16_from_code_page(const char *in, int32_t n, char16_t *out, int32_t size) {
    int written = MultiByteToWideChar(CP_ACP, 0, in, n, (LPWSTR)out, size);
    return written > 0 ? written : 0;
}
