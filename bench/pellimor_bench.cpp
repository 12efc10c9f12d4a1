// pellimor's GetPicture against stb_image on the same 16-bit 5-6-5 bitmap in
// memory, plus the floor (a fresh block filled by memcpy) and the conversion
// pass alone on warm buffers, for 5-6-5, 5-5-5 and 4-4-4 masks. Ratios are
// printed after the table.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <stb_image.h>

#include "bench_support.h"
#include "bmp16_convert_testing.h"
#include "plugin_load.h"

namespace {

LoadedPlugin &plugin() {
    static LoadedPlugin p;
    return p;
}

std::map<int, Bytes> &bitmaps() {
    static std::map<int, Bytes> m;
    return m;
}

const Bytes &bitmap_for(int w) {
    for (const PictureCase &c : PICTURE_CASES)
        if ((int)c.width == w && !bitmaps().count(w)) bitmaps()[w] = make_bmp565(c.width, c.height);
    return bitmaps()[w];
}

int height_for(int w) {
    for (const PictureCase &c : PICTURE_CASES)
        if ((int)c.width == w) return (int)c.height;
    return 0;
}

void set_rate(benchmark::State &state, int w) {
    state.SetItemsProcessed(state.iterations() * (int64_t)w * height_for(w));
}

void BM_stb(benchmark::State &state) {
    const Bytes &file = bitmap_for((int)state.range(0));
    for (auto _ : state) {
        int x, y, n;
        unsigned char *rgb = stbi_load_from_memory(file.data(), (int)file.size(), &x, &y, &n, 3);
        benchmark::DoNotOptimize(rgb);
        stbi_image_free(rgb);
    }
    set_rate(state, (int)state.range(0));
}

void BM_ours(benchmark::State &state) {
    const Bytes &file = bitmap_for((int)state.range(0));
    for (auto _ : state) {
        HLOCAL info = nullptr, bits = nullptr;
        int32_t code = plugin().get_picture((const char *)file.data(), (LONG_PTR)file.size(),
                                            SOURCE_MEMORY, &info, &bits, nullptr, 0);
        if (code != RESULT_OK) state.SkipWithError("GetPicture failed");
        LocalFree(bits);
        LocalFree(info);
    }
    set_rate(state, (int)state.range(0));
}

// What no decoder can beat: a fresh block of the output's size filled by memcpy.
void BM_floor(benchmark::State &state) {
    int w = (int)state.range(0);
    PixelLayout layout;
    derive_pixel_layout((uint32_t)w, (uint32_t)height_for(w), &layout);
    Bytes decoded(layout.out_size, 0x5A);
    for (auto _ : state) {
        HLOCAL h = LocalAlloc(LMEM_MOVEABLE, layout.out_size);
        void *p = LocalLock(h);
        memcpy(p, decoded.data(), layout.out_size);
        benchmark::DoNotOptimize(p);
        LocalUnlock(h);
        LocalFree(h);
    }
    set_rate(state, w);
}

// Masks the conversion pass is timed with: the two most files have, and one
// more.
struct MaskCase {
    const char *name;
    uint32_t red, green, blue;
    double target_1024, target_4096;  // of memcpy's throughput; 0 for none
};

constexpr MaskCase MASK_CASES[] = {{"5-6-5", 0xF800, 0x07E0, 0x001F, 0.8, 0.9},
                                   {"5-5-5", 0x7C00, 0x03E0, 0x001F, 0.8, 0.9},
                                   {"4-4-4", 0x0F00, 0x00F0, 0x000F, 0.5, 0}};

// The conversion pass alone, from a warm input into a warm output;
// the pixels are the 5-6-5 picture's whatever the masks.
void BM_convert(benchmark::State &state) {
    int w = (int)state.range(0);
    const MaskCase &m = MASK_CASES[state.range(1)];
    const Bytes &file = bitmap_for(w);
    PixelLayout layout;
    derive_pixel_layout((uint32_t)w, (uint32_t)height_for(w), &layout);
    ChannelScale r = derive_channel_scale(m.red), g = derive_channel_scale(m.green),
                 b = derive_channel_scale(m.blue);
    PixelLanes lanes;
    derive_pixel_lanes(&r, &g, &b, &lanes);
    Bytes out(layout.out_size, 0);
    const uint8_t *in = file.data() + 66;
    int path = convert_best_path();
    for (auto _ : state) {
        convert_rows(out.data(), layout.out_stride, in, layout.in_stride, layout.height,
                     layout.width, layout.pad, &lanes, path);
        benchmark::DoNotOptimize(out.data());
    }
    set_rate(state, w);
}

void BM_memcpy(benchmark::State &state) {
    int w = (int)state.range(0);
    PixelLayout layout;
    derive_pixel_layout((uint32_t)w, (uint32_t)height_for(w), &layout);
    Bytes from(layout.out_size, 0x5A), to(layout.out_size, 0);
    for (auto _ : state) {
        memcpy(to.data(), from.data(), layout.out_size);
        benchmark::DoNotOptimize(to.data());
    }
    set_rate(state, w);
}

double fastest(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

// Five repetitions each; the ratios compare the fastest, which is the least
// disturbed by whatever else the machine is doing.
void timed(benchmark::internal::Benchmark *b) {
    b->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true)->ComputeStatistics("min", fastest);
}

BENCHMARK(BM_stb)->Arg(17)->Arg(1024)->Arg(4096)->Apply(timed);
BENCHMARK(BM_ours)->Arg(17)->Arg(1024)->Arg(4096)->Apply(timed);
BENCHMARK(BM_floor)->Arg(17)->Arg(1024)->Arg(4096)->Apply(timed);
BENCHMARK(BM_convert)->ArgsProduct({{1024, 4096}, {0, 1, 2}})->Apply(timed);
BENCHMARK(BM_memcpy)->Arg(1024)->Arg(4096)->Apply(timed);

// Keeps each benchmark's fastest seconds per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min" &&
                run.iterations > 0)
                seconds[run.run_name.function_name + "/" + run.run_name.args] =
                    run.real_accumulated_time / (double)run.iterations;
        ConsoleReporter::ReportRuns(runs);
    }
};

// Throughput of `ours` as a multiple of `peer`'s.
void print_ratio(const RatioReporter &rep, const char *what, const std::string &peer,
                 const std::string &ours, double target) {
    auto a = rep.seconds.find(peer), b = rep.seconds.find(ours);
    if (a == rep.seconds.end() || b == rep.seconds.end()) return;
    ::print_ratio(what, a->second, b->second, target);
}

}  // namespace

int main(int argc, char **argv) {
    if (!bench_load_plugin(&plugin(), SPI_PELLIMOR_PATH)) return 1;
    for (const PictureCase &c : PICTURE_CASES)
        if (!picture_matches_stb(&plugin(), bitmap_for((int)c.width), c.width, c.height)) {
            fprintf(stderr, "stb_image and pellimor disagree on %ux%u\n", c.width, c.height);
            return 1;
        }
    printf("conversion path: %s\n", convert_path_name(convert_best_path()));
    benchmark::Initialize(&argc, argv);
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    printf("\n");
    print_ratio(rep, "17x13 GetPicture vs stb_image, per call", "BM_stb/17",
                "BM_ours/17", PICTURE_CASES[0].stb_target);
    print_ratio(rep, "1024x1024 GetPicture vs stb_image", "BM_stb/1024",
                "BM_ours/1024", PICTURE_CASES[1].stb_target);
    print_ratio(rep, "4096x4096 GetPicture vs stb_image", "BM_stb/4096",
                "BM_ours/4096", PICTURE_CASES[2].stb_target);
    for (const PictureCase &c : PICTURE_CASES) {
        char what[96];
        std::string size = std::to_string(c.width);
        snprintf(what, sizeof what, "%ux%u GetPicture vs allocate-and-copy floor", c.width, c.height);
        print_ratio(rep, what, "BM_floor/" + size, "BM_ours/" + size, 0);
    }
    for (uint32_t w : {1024u, 4096u})
        for (size_t k = 0; k < sizeof MASK_CASES / sizeof MASK_CASES[0]; ++k) {
            const MaskCase &m = MASK_CASES[k];
            // 5-6-5, the common masks, is the line without a mask's name.
            char what[96];
            if (k == 0)
                snprintf(what, sizeof what, "%ux%u conversion pass vs memcpy of the output", w, w);
            else
                snprintf(what, sizeof what, "%ux%u conversion pass, %s, vs memcpy of the output", w,
                         w, m.name);
            std::string size = std::to_string(w);
            print_ratio(rep, what, "BM_memcpy/" + size,
                        "BM_convert/" + size + "/" + std::to_string(k),
                        w == 1024 ? m.target_1024 : m.target_4096);
        }
    benchmark::Shutdown();
    return 0;
}
