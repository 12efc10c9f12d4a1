// One fuzz target, built once for each plug-in (SPI_PLUGIN_NAME, its
// contract check SPI_CONTRACT and SPI_PLUGIN_PATH come from the build): the
// plug-in loaded once as a host loads it, with the calls into either set of
// its exports, a scratch folder of this process's own for each input, and the
// trap on a broken promise.
//
// The lowest bit of the input's last byte picks the exports: 0 the 8-bit
// ones, 1 the wide ones. Nothing is taken off the input: the checks read that
// byte as they read every other (modulo 23 or 3 for a prefix length, or as
// data), so an input means the same to both widths and every prefix goes with
// either. An empty input takes the 8-bit exports.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "contract.h"
#include "plugin_calls.h"

struct FuzzTarget {
    LoadedPlugin plugin;
    PluginCalls sets[2];  // into plugin's 8-bit (0) and wide (1) exports
    std::string scratch;
    uint64_t calls;  // export calls made, for the replay's summary
};

static void fuzz_target_remove_scratch(const FuzzTarget *t) {
    if (!t->scratch.empty()) contract_remove_folder(t->scratch);
}

static void fuzz_target_load(FuzzTarget *t, const char *path, const char *name) {
    char why[512] = "";
    if (!plugin_load(&t->plugin, path, why, sizeof why)) {
        fprintf(stderr, "cannot load %s: %s\n", path, why);
        exit(2);
    }
    if (!t->plugin.get_plugin_info_w) {
        fprintf(stderr, "%s has no wide exports\n", path);
        exit(2);
    }
    t->sets[0] = plugin_calls(&t->plugin, PLUGIN_SET_NARROW, UTF_LATIN1_BYTES);
    t->sets[1] = plugin_calls(&t->plugin, PLUGIN_SET_WIDE, UTF_LATIN1_BYTES);
    const char *tmp = getenv("TMPDIR");
    std::string root = tmp && *tmp ? tmp : "/tmp";
    t->scratch = root + "/spi-fuzz-" + name + "-" + std::to_string((long)getpid());
}

// Runs `check` on one input and traps on the first broken promise, so that
// libFuzzer keeps the input and the replay program fails.
static void fuzz_target_run(FuzzTarget *t, void (*check)(ContractRun *, const uint8_t *, size_t),
                            const uint8_t *data, size_t size) {
    // Made and removed for each input: libFuzzer's helper processes exit
    // without running exit handlers.
    if (!contract_make_folder(t->scratch)) {
        fprintf(stderr, "cannot make the scratch folder %s\n", t->scratch.c_str());
        exit(2);
    }
    int wide = size > 0 && (data[size - 1] & 1);
    ContractRun run = contract_run(&t->sets[wide], t->scratch);
    check(&run, data, size);
    t->calls += run.calls;
    fuzz_target_remove_scratch(t);
    if (!run.failure.empty()) {
        fprintf(stderr, "broken promise: %s\n", run.failure.c_str());
        fflush(stderr);
        __builtin_trap();
    }
}

namespace {

FuzzTarget target;

void remove_scratch() { fuzz_target_remove_scratch(&target); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz_target_load(&target, SPI_PLUGIN_PATH, SPI_PLUGIN_NAME);
    atexit(remove_scratch);
    return 0;
}

extern "C" uint64_t fuzz_target_calls() { return target.calls; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_target_run(&target, SPI_CONTRACT, data, size);
    return 0;
}
