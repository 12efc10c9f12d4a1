// pellimor's GetPicture against stb_image on the same 16-bit 5-6-5 bitmap in
// memory, plus the floor (a fresh block filled by memcpy) and the conversion
// pass alone on warm buffers. Ratios are printed after the table.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#include <stb/stb_image.h>

#include "bmp16_convert.h"
#include "plugin_load.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const int SIZES[][2] = {{17, 13}, {1024, 1024}, {4096, 4096}};

void put(Bytes &b, size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
}

// A 5-6-5 bitmap: a colour gradient with noise in the low bits.
Bytes make_565(uint32_t w, uint32_t h) {
    uint32_t stride = (2 * w + 3) & ~3u;
    Bytes b(66 + (size_t)stride * h, 0);
    put(b, 0, 0x4D42, 2);
    put(b, 2, (uint32_t)b.size(), 4);
    put(b, 10, 66, 4);
    put(b, 14, 40, 4);
    put(b, 18, w, 4);
    put(b, 22, h, 4);
    put(b, 26, 1, 2);
    put(b, 28, 16, 2);
    put(b, 30, 3, 4);
    put(b, 34, stride * h, 4);
    put(b, 54, 0xF800, 4);
    put(b, 58, 0x07E0, 4);
    put(b, 62, 0x001F, 4);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            uint32_t r = x * 31 / w, g = y * 63 / h, bl = (noise >> 27);
            put(b, 66 + (size_t)y * stride + 2 * x, r << 11 | g << 5 | bl, 2);
        }
    return b;
}

LoadedPlugin &plugin() {
    static LoadedPlugin p;
    return p;
}

std::map<int, Bytes> &bitmaps() {
    static std::map<int, Bytes> m;
    return m;
}

const Bytes &bitmap_for(int w) {
    for (const auto &s : SIZES)
        if (s[0] == w && !bitmaps().count(w)) bitmaps()[w] = make_565((uint32_t)s[0], (uint32_t)s[1]);
    return bitmaps()[w];
}

int height_for(int w) {
    for (const auto &s : SIZES)
        if (s[0] == w) return s[1];
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

// The conversion pass alone, row by row from a warm input into a warm output.
void BM_convert(benchmark::State &state) {
    int w = (int)state.range(0);
    const Bytes &file = bitmap_for(w);
    PixelLayout layout;
    derive_pixel_layout((uint32_t)w, (uint32_t)height_for(w), &layout);
    ChannelScale r = derive_channel_scale(0xF800), g = derive_channel_scale(0x07E0),
                 b = derive_channel_scale(0x001F);
    PixelTables tables;
    build_pixel_tables(&r, &g, &b, &tables);
    Bytes out(layout.out_size, 0);
    const uint8_t *in = file.data() + 66;
    int path = convert_best_path();
    for (auto _ : state) {
        for (uint32_t i = 0; i < layout.height; ++i)
            convert_row(out.data() + (size_t)i * layout.out_stride, in + (size_t)i * layout.in_stride,
                        layout.width, layout.pad, UINT32_MAX, &tables, path);
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
BENCHMARK(BM_floor)->Arg(4096)->Apply(timed);
BENCHMARK(BM_convert)->Arg(1024)->Arg(4096)->Apply(timed);
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
    double ratio = a->second / b->second;
    if (target > 0)
        printf("%-48s %6.2fx  (target %.1fx: %s)\n", what, ratio, target,
               ratio >= target ? "met" : "NOT MET");
    else
        printf("%-48s %6.2fx\n", what, ratio);
}

// stb_image must read the very picture we decode, or the race is unfair.
bool outputs_agree(int w) {
    const Bytes &file = bitmap_for(w);
    int h = height_for(w), x, y, n;
    unsigned char *rgb = stbi_load_from_memory(file.data(), (int)file.size(), &x, &y, &n, 3);
    HLOCAL info = nullptr, bits = nullptr;
    int32_t code = plugin().get_picture((const char *)file.data(), (LONG_PTR)file.size(),
                                        SOURCE_MEMORY, &info, &bits, nullptr, 0);
    bool same = rgb && code == RESULT_OK && x == w && y == h;
    if (same) {
        const uint8_t *dib = (const uint8_t *)LocalLock(bits);
        size_t stride = ((size_t)w * 3 + 3) & ~(size_t)3;
        // stb gives top-down RGB rows, the DIB bottom-up BGR rows.
        for (int row = 0; row < h && same; ++row)
            for (int col = 0; col < w && same; ++col) {
                const uint8_t *s = rgb + ((size_t)row * w + col) * 3;
                const uint8_t *d = dib + (size_t)(h - 1 - row) * stride + (size_t)col * 3;
                same = s[0] == d[2] && s[1] == d[1] && s[2] == d[0];
            }
        LocalUnlock(bits);
    }
    stbi_image_free(rgb);
    LocalFree(bits);
    LocalFree(info);
    return same;
}

}  // namespace

int main(int argc, char **argv) {
    char why[512] = "";
    if (!plugin_load(&plugin(), SPI_PELLIMOR_PATH, why, sizeof why)) {
        fprintf(stderr, "cannot load %s: %s\n", SPI_PELLIMOR_PATH, why);
        return 1;
    }
    for (const auto &s : SIZES)
        if (!outputs_agree(s[0])) {
            fprintf(stderr, "stb_image and pellimor disagree on %dx%d\n", s[0], s[1]);
            return 1;
        }
    printf("conversion path: %s\n", convert_best_path() == CONVERT_SSSE3 ? "SSSE3" : "scalar");
    benchmark::Initialize(&argc, argv);
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    printf("\n");
    print_ratio(rep, "17x13 GetPicture vs stb_image, per call", "BM_stb/17",
                "BM_ours/17", 1.0);
    print_ratio(rep, "1024x1024 GetPicture vs stb_image", "BM_stb/1024",
                "BM_ours/1024", 10.0);
    print_ratio(rep, "4096x4096 GetPicture vs stb_image", "BM_stb/4096",
                "BM_ours/4096", 3.5);
    print_ratio(rep, "4096x4096 GetPicture vs allocate-and-copy floor", "BM_floor/4096",
                "BM_ours/4096", 0);
    print_ratio(rep, "1024x1024 conversion pass vs memcpy of the output",
                "BM_memcpy/1024", "BM_convert/1024", 0);
    print_ratio(rep, "4096x4096 conversion pass vs memcpy of the output",
                "BM_memcpy/4096", "BM_convert/4096", 0);
    benchmark::Shutdown();
    return 0;
}
