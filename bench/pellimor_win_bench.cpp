// pellimor's GetPicture, the real DLL loaded as a viewer loads it, against
// stb_image on the same 16-bit 5-6-5 bitmap in memory and against the floor:
// a fresh moveable block of the output's size filled by one copy; and against
// itself on a system whose processor-feature query says no to SSSE3 and AVX2
// (Windows before 10 version 2004, Server 2019). A Windows program, run under
// Wine by `./run bench`; ratios are printed after the table.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <stb_image.h>

#include "bench_support.h"
#include "bmp16_convert_testing.h"
#include "host_habits.h"
#include "plugin_load.h"
#include "win_clock.h"

namespace {

// GetPicture where the feature query says no is to keep this fraction of
// its throughput where the query says yes.
constexpr double OLD_SYSTEM_TARGET = 0.9;

// Wine's ntdll exports its version; Windows' does not.
bool under_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

int main() {
    LoadedPlugin pellimor;
    if (!bench_load_plugin(&pellimor, SPI_PELLIMOR_PATH)) return 1;
    const bool wine = under_wine();
    printf("%d-bit process%s, conversion path: %s\n", (int)(8 * sizeof(void *)),
           wine ? " under Wine" : "", convert_path_name(convert_best_path()));
    if (wine)
        printf("Under Wine a fresh page costs far more than on Windows and hides the\n"
               "decoder: the ratio to the allocate-and-copy floor is the figure to judge,\n"
               "and the targets against stb_image hold for native runs only.\n");
    const size_t cases = sizeof PICTURE_CASES / sizeof PICTURE_CASES[0];
    Clocked clocked[cases][4];
    // Whether the DLL's feature query now says no: switched when the other
    // GetPicture body's turn comes, not on every call.
    int predated = 0;
    int failures = 0;
    for (size_t k = 0; k < cases; ++k) {
        const PictureCase &c = PICTURE_CASES[k];
        Bytes file = make_bmp565(c.width, c.height);
        if (!picture_matches_stb(&pellimor, file, c.width, c.height)) {
            fprintf(stderr, "stb_image and pellimor disagree on %ux%u\n", c.width, c.height);
            return 1;
        }
        PixelLayout layout;
        derive_pixel_layout(c.width, c.height, &layout);
        Bytes decoded(layout.out_size, 0x5A);
        auto stb = [&] {
            int x, y, n;
            unsigned char *rgb = stbi_load_from_memory(file.data(), (int)file.size(), &x, &y, &n, 3);
            if (!rgb) ++failures;
            clock_keep(rgb);
            stbi_image_free(rgb);
        };
        auto ours = [&] {
            HLOCAL info = nullptr, bits = nullptr;
            if (pellimor.get_picture((const char *)file.data(), (LONG_PTR)file.size(), SOURCE_MEMORY, &info,
                                     &bits, nullptr, 0) != RESULT_OK)
                ++failures;
            LocalFree(bits);
            LocalFree(info);
        };
        auto ours_old_system = [&] {
            if (!predated) predated = feature_query_predates(pellimor.module, 1);
            ours();
        };
        auto ours_now = [&] {
            if (predated) predated = !feature_query_predates(pellimor.module, 0);
            ours();
        };
        // What no decoder can beat: the output's bytes copied into a fresh block.
        auto copy_floor = [&] {
            HLOCAL h = LocalAlloc(LMEM_MOVEABLE, layout.out_size);
            void *p = LocalLock(h);
            if (p)
                memcpy(p, decoded.data(), layout.out_size);
            else
                ++failures;
            clock_keep(p);
            LocalUnlock(h);
            LocalFree(h);
        };
        clock_race(clocked[k], stb, ours_now, copy_floor, ours_old_system);
        if (failures) {
            fprintf(stderr, "%d calls failed at %ux%u\n", failures, c.width, c.height);
            return 1;
        }
        char name[64];
        double pixels = (double)c.width * c.height / 1e6;
        snprintf(name, sizeof name, "stb_image %ux%u", c.width, c.height);
        print_clocked(name, &clocked[k][0], pixels, "Mpixel");
        snprintf(name, sizeof name, "GetPicture %ux%u", c.width, c.height);
        print_clocked(name, &clocked[k][1], pixels, "Mpixel");
        snprintf(name, sizeof name, "allocate-and-copy floor %ux%u", c.width, c.height);
        print_clocked(name, &clocked[k][2], pixels, "Mpixel");
        snprintf(name, sizeof name, "GetPicture, feature query says no %ux%u", c.width, c.height);
        print_clocked(name, &clocked[k][3], pixels, "Mpixel");
    }
    printf("\n");
    for (size_t k = 0; k < cases; ++k) {
        const PictureCase &c = PICTURE_CASES[k];
        char what[96];
        snprintf(what, sizeof what, "%ux%u GetPicture vs stb_image", c.width, c.height);
        print_ratio(what, clocked[k][0].fastest, clocked[k][1].fastest, wine ? 0 : c.stb_target);
        snprintf(what, sizeof what, "%ux%u GetPicture vs allocate-and-copy floor", c.width, c.height);
        print_ratio(what, clocked[k][2].fastest, clocked[k][1].fastest, wine ? c.floor_target : 0);
        // The processor itself decides where the system will not say, for
        // pictures large enough to be worth asking it.
        const bool asks = (uint64_t)c.width * c.height >= CONVERT_PROCESSOR_MIN_PIXELS;
        snprintf(what, sizeof what, "%ux%u GetPicture, query says no vs says yes", c.width, c.height);
        print_ratio(what, clocked[k][1].fastest, clocked[k][3].fastest, asks ? OLD_SYSTEM_TARGET : 0);
        // The most any decoder handing over a fresh block could reach.
        snprintf(what, sizeof what, "%ux%u the floor itself vs stb_image", c.width, c.height);
        print_ratio(what, clocked[k][0].fastest, clocked[k][2].fastest, 0);
    }
    plugin_unload(&pellimor);
    return 0;
}
