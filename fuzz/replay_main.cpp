// The fuzz targets as plain programs: each argument is an input file or a
// folder of them (searched recursively), replayed once each in name order.
// ctest runs this over the seed corpus and every kept regression input.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_bytes.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" uint64_t fuzz_target_calls();

namespace fs = std::filesystem;

int main(int argc, char **argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        fs::path arg(argv[i]);
        if (fs::is_directory(arg, ec)) {
            for (const fs::directory_entry &e : fs::recursive_directory_iterator(arg, ec))
                if (e.is_regular_file()) inputs.push_back(e.path());
        } else if (fs::is_regular_file(arg, ec)) {
            inputs.push_back(arg);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    for (const fs::path &p : inputs) {
        Bytes bytes;
        if (!read_whole_file(p.string(), &bytes)) {
            fprintf(stderr, "cannot read %s\n", p.string().c_str());
            return 1;
        }
        fprintf(stderr, "%s\n", p.string().c_str());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    printf("replayed %zu inputs, %llu export calls, every promise kept\n", inputs.size(),
           (unsigned long long)fuzz_target_calls());
    return 0;
}
