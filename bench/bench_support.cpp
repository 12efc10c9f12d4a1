#include "bench_support.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "bmp16_writer.h"
#include "fpk_writer.h"
#include "stb_reference.h"

int bench_load_plugin(LoadedPlugin *plugin, const char *path) {
    char why[512] = "";
    if (plugin_load(plugin, path, why, sizeof why)) return 1;
    fprintf(stderr, "cannot load %s: %s\n", path, why);
    return 0;
}

Bytes make_bmp565(uint32_t width, uint32_t height) {
    std::vector<uint16_t> pixels((size_t)width * height);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            uint32_t r = x * 31 / width, g = y * 63 / height, bl = (noise >> 27);
            pixels[(size_t)y * width + x] = (uint16_t)(r << 11 | g << 5 | bl);
        }
    Bmp16Knobs knobs;
    knobs.size_image = ((2 * width + 3) & ~3u) * height;
    knobs.fill = 0;
    return make_bmp16((int32_t)width, (int32_t)height, MASKS_565, pixels, knobs);
}

Bytes bench_fpk(uint32_t count, uint32_t member_size) {
    std::vector<FpkMember> members(count);
    size_t directory = fpk_entry_pos(count);
    for (uint32_t i = 0; i < count; ++i) {
        members[i].name = "m" + std::to_string(i);
        members[i].data.resize(member_size);
        for (uint32_t k = 0; k < member_size; ++k)
            members[i].data[k] = (uint8_t)((directory + (size_t)i * member_size + k) * 131);
    }
    return make_fpk(members);
}

int picture_matches_stb(const LoadedPlugin *pellimor, const Bytes &file, uint32_t width, uint32_t height) {
    int32_t w = 0, h = 0;
    Bytes stb_rows;
    if (!stb_reference_rows(file.data(), file.size(), &w, &h, &stb_rows)) return 0;
    HLOCAL info = nullptr, bits = nullptr;
    int32_t code = pellimor->get_picture((const char *)file.data(), (LONG_PTR)file.size(), SOURCE_MEMORY,
                                         &info, &bits, nullptr, 0);
    int same = code == RESULT_OK && (uint32_t)w == width && (uint32_t)h == height;
    if (same) {
        const uint8_t *dib = (const uint8_t *)LocalLock(bits);
        same = dib != nullptr && LocalSize(bits) == stb_rows.size() &&
               memcmp(dib, stb_rows.data(), stb_rows.size()) == 0;
        LocalUnlock(bits);
    }
    LocalFree(bits);
    LocalFree(info);
    return same;
}

void print_ratio(const char *what, double peer_seconds, double our_seconds, double target) {
    if (!(peer_seconds > 0) || !(our_seconds > 0)) {
        printf("%-58s no time\n", what);
        return;
    }
    double ratio = peer_seconds / our_seconds;
    if (target > 0)
        printf("%-58s %6.2fx  (target %.1fx: %s)\n", what, ratio, target, ratio >= target ? "met" : "NOT MET");
    else
        printf("%-58s %6.2fx\n", what, ratio);
}
