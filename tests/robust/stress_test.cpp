// A mutation sweep through the real plug-ins: valid archives and bitmaps,
// damaged a few bytes at a time by a fixed-seed generator, fed to every export
// from memory and from files. Each answer is checked by the same contract the
// fuzz targets use: codes from the interface's set and the due one, blocks of
// the documented size and contents that LocalFree releases, nothing left
// behind. The inputs alternate between the 8-bit exports and the wide ones
// (through plugin_calls.h). In the Windows builds this runs the
// .spi/.sph files under Wine.
#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contract.h"
#include "plugin_calls.h"
#include "test_support.h"
#include "bmp16_writer.h"
#include "fpk_writer.h"

namespace {

constexpr uint32_t FULL_SWEEP_INPUTS = 2000;
constexpr uint64_t SWEEP_SEED = 0x5EEDF00DCAFEull;

std::vector<Bytes> archive_seeds() {
    std::vector<Bytes> s;
    s.push_back(make_fpk({{"a.txt", pattern_bytes(5, 1)}}));
    s.push_back(make_fpk({{"first.txt", pattern_bytes(33, 2)}, {"Second.BIN", pattern_bytes(100, 3)},
                          {"dir\\third", pattern_bytes(7, 4)}}));
    s.push_back(make_fpk({{"x", pattern_bytes(3, 5)}, {"X", pattern_bytes(64, 6)}}, 12));
    std::vector<FpkMember> many;
    for (int i = 0; i < 90; ++i) many.push_back({"m" + std::to_string(i), pattern_bytes(1 + i % 5, i)});
    s.push_back(make_fpk(many));
    return s;
}

std::vector<Bytes> bitmap_seeds() {
    std::vector<Bytes> s;
    s.push_back(make_bmp16(bmp565(5, 3, 1)));
    s.push_back(make_bmp16(bmp565(1, 2, 2)));
    s.push_back(make_bmp16(Bmp16Shape{9, 4, 0x7C00, 0x03E0, 0x001F, 66, 3}));
    s.push_back(make_bmp16(Bmp16Shape{13, 2, 0x0F00, 0x00F0, 0x000F, 70, 4}));
    s.push_back(make_bmp16(Bmp16Shape{4, 4, 0x0101, 0, 0xF0000, 54, 5}));
    return s;
}

// Input i goes to the 8-bit exports when i is even, to the wide ones when odd.
void sweep(const LoadedPlugin &plugin, const std::vector<Bytes> &seeds,
           void (*check)(ContractRun *, const uint8_t *, size_t), const char *name) {
    std::array<PluginCalls, 2> both = test_both_widths(&plugin);
    std::string scratch = test_scratch_dir();
    TestRandom r{SWEEP_SEED};
    uint64_t calls = 0;
    int failures = 0;
    const int inputs = (int)sweep_rounds(FULL_SWEEP_INPUTS);
    for (int i = 0; i < inputs && failures < 10; ++i) {
        Bytes input = mutate_bytes(seeds[random_below(&r, (uint32_t)seeds.size())], 0, &r);
        ContractRun run = contract_run(&both[i % 2], scratch);
        check(&run, input.data(), input.size());
        calls += run.calls;
        if (!run.failure.empty()) {
            ++failures;
            std::string hex;
            for (size_t j = 0; j < input.size() && j < 96; ++j) {
                char h[4];
                snprintf(h, sizeof h, "%02x", input[j]);
                hex += h;
            }
            ADD_FAILURE() << name << " input " << i << " (" << input.size() << " bytes: " << hex
                          << "): " << run.failure;
        }
    }
    ::testing::Test::RecordProperty("export_calls", (int)calls);
    printf("mutation sweep: %s, %d inputs, %llu export calls\n", name, inputs,
           (unsigned long long)calls);
}

// Every width up to 70 (the vector paths and their tails, the in-place
// widths 5, 9, 13, 17 ...) under masks inside and outside 16 bits, checked
// pixel by pixel against the contract's reference decoder, the bitmaps
// alternating between the 8-bit exports and the wide ones.
TEST(ShapeSweep, Pellimor) {
    LoadedPlugin p = test_load_pellimor();
    ASSERT_NE(p.get_picture, nullptr);
    std::array<PluginCalls, 2> both = test_both_widths(&p);
    std::string scratch = test_scratch_dir();
    const uint32_t masks[][3] = {{0xF800, 0x07E0, 0x001F}, {0x7C00, 0x03E0, 0x001F},
                                 {0x0F00, 0x00F0, 0x000F}, {0x0101, 0, 0x8001},
                                 {0xF0000, 0xFFFF, 0x00FF}, {0xFFFFFFFF, 0x80000000, 0x1}};
    uint64_t calls = 0;
    int inputs = 0;
    for (int32_t w = 1; w <= 70; ++w)
        for (int32_t h = 1; h <= 3; ++h) {
            const uint32_t *m = masks[(w + h) % 6];
            Bmp16Shape shape{w, h, m[0], m[1], m[2], (w % 7 == 0) ? 70u : 66u, (uint32_t)(w * 3 + h)};
            Bytes input = make_bmp16(shape);
            ContractRun run = contract_run(&both[inputs % 2], scratch);
            pellimor_contract(&run, input.data(), input.size());
            calls += run.calls;
            ++inputs;
            ASSERT_TRUE(run.failure.empty()) << w << "x" << h << ": " << run.failure;
        }
    printf("shape sweep: pellimor, %d bitmaps, %llu export calls\n", inputs,
           (unsigned long long)calls);
    plugin_unload(&p);
}

TEST(MutationSweep, Tolvane) {
    LoadedPlugin p = test_load_tolvane();
    ASSERT_NE(p.get_file, nullptr);
    sweep(p, archive_seeds(), tolvane_contract, "tolvane");
    plugin_unload(&p);
}

TEST(MutationSweep, Pellimor) {
    LoadedPlugin p = test_load_pellimor();
    ASSERT_NE(p.get_picture, nullptr);
    sweep(p, bitmap_seeds(), pellimor_contract, "pellimor");
    plugin_unload(&p);
}

}  // namespace
