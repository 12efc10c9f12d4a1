// What the native benchmarks and the Windows ones run under Wine share: the
// inputs they time, the check that pellimor and stb_image read a picture
// alike, and the ratio lines of their summaries.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "plugin_load.h"
#include "test_bytes.h"

// A picture pellimor is timed on, the multiple of stb_image's throughput
// GetPicture is to reach on it natively, and the fraction of the
// allocate-and-copy floor's it is to reach under Wine (0 for none), where
// fresh pages cost so much that the floor itself barely beats stb_image.
struct PictureCase {
    uint32_t width;
    uint32_t height;
    double stb_target;
    double floor_target;
};

constexpr PictureCase PICTURE_CASES[] = {
    {17, 13, 1.0, 0}, {1024, 1024, 20.0, 0.9}, {4096, 4096, 3.5, 0.9}};

// GetFile to memory is to reach this fraction of a plain read's throughput.
constexpr double GET_FILE_TARGET = 0.9;

// Loads the plug-in at `path` as a host does; when it does not load, says why
// on stderr and returns 0.
int bench_load_plugin(LoadedPlugin *plugin, const char *path);

// A 16-bit bitmap file with 5-6-5 masks: a colour gradient with noise in the
// low bits.
Bytes make_bmp565(uint32_t width, uint32_t height);

// An FPK archive: the directory of `count` members of `member_size` bytes
// named "m<i>", then the members.
Bytes bench_fpk(uint32_t count, uint32_t member_size);

// Where bench_fpk(1, n) puts its one member.
constexpr uint32_t FPK_SINGLE_MEMBER_POSITION = 4 + 24;

// 1 when GetPicture of the width x height bitmap `file` in memory gives the
// same pixels as stb_image reading it as RGB, so that both race on the same work.
int picture_matches_stb(const LoadedPlugin *pellimor, const Bytes &file, uint32_t width, uint32_t height);

// One summary line: the throughput of ours as a multiple of the peer's, from
// the seconds each takes; with a target above 0, whether it is met.
void print_ratio(const char *what, double peer_seconds, double our_seconds, double target);
