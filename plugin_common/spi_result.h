// The interface's result codes, each with the one name and explanation that
// every host and test of ours prints for it.
#pragma once

#include <stdint.h>

enum SpiResult : int32_t {
    RESULT_NOT_SUPPORTED = -1,
    RESULT_OK = 0,
    RESULT_CANCELLED = 1,
    RESULT_UNKNOWN_FORMAT = 2,
    RESULT_NO_MEMORY = 4,
    RESULT_MEMORY_ERROR = 5,
    RESULT_READ_ERROR = 6,
    RESULT_INTERNAL_ERROR = 8,
};

struct SpiResultText {
    int32_t code;
    const char *name;         // a few words: "read error"
    const char *explanation;  // what the code tells the host
};

// The name and explanation of `code`; null for a code outside the set above.
// In spi_result.cpp, which no plug-in links: the plug-ins answer codes, they
// never describe them.
const SpiResultText *spi_result_text(int32_t code);
