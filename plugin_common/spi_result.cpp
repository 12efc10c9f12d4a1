#include "spi_result.h"

namespace {

// Every code of the interface, once.
const SpiResultText RESULT_TEXTS[] = {
    {RESULT_NOT_SUPPORTED, "not supported", "the plug-in does not provide this function"},
    {RESULT_OK, "ok", "success"},
    {RESULT_CANCELLED, "cancelled", "the progress callback asked the plug-in to stop"},
    {RESULT_UNKNOWN_FORMAT, "unknown format", "the data failed the plug-in's format check"},
    {RESULT_NO_MEMORY, "no memory", "a memory block could not be allocated"},
    {RESULT_MEMORY_ERROR, "memory error", "a memory block could not be locked"},
    {RESULT_READ_ERROR, "read error",
     "the file could not be opened, positioned or read, the named or positioned "
     "member does not exist, or the archive ends inside the member"},
    {RESULT_INTERNAL_ERROR, "internal error",
     "the destination kind is not supported, or the output file could not be created or "
     "written"},
};

}  // namespace

const SpiResultText *spi_result_text(int32_t code) {
    const SpiResultText *found = nullptr;
    for (const SpiResultText &t : RESULT_TEXTS)
        if (t.code == code) found = &t;
    return found;
}
