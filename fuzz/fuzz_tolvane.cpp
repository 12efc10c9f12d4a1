// Fuzz target for the archive plug-in: every export that reads input, on any
// bytes, from memory and from files, checked against the contract.
#include "fuzz_target.h"

namespace {

FuzzTarget target;

void remove_scratch() { fuzz_target_remove_scratch(&target); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz_target_load(&target, SPI_PLUGIN_PATH, "tolvane");
    atexit(remove_scratch);
    return 0;
}

extern "C" uint64_t fuzz_target_calls() { return target.calls; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_target_run(&target, tolvane_contract, data, size);
    return 0;
}
