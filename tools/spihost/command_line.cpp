// spihost's command line: the usage text and the parse into a CommandLine.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "spihost.h"

namespace {

const char USAGE[] =
    "usage: spihost info PLUGIN\n"
    "       spihost probe PLUGIN FILE\n"
    "       spihost list PLUGIN ARCHIVE [--offset N]\n"
    "       spihost extract PLUGIN ARCHIVE [NAME...] --to DIR [--memory]\n"
    "       spihost picture PLUGIN FILE\n"
    "       spihost decode PLUGIN FILE OUT.bmp [--memory]\n"
    "PLUGIN is the plug-in's file: NAME.spi (32-bit) or NAME.sph (64-bit) on Windows,\n"
    "NAME.so in the native build.\n"
    "--memory hands the plug-in a memory image (decode) or takes the member\n"
    "in a memory block (extract) instead of going through files.\n"
    "--ansi calls the plug-in's 8-bit exports even where it has the wide (UTF-16) ones.\n";

int usage_error(const char *why) {
    if (why) fprintf(stderr, "spihost: %s\n", why);
    fputs(USAGE, stderr);
    return EXIT_USAGE;
}

}  // namespace

int parse_command_line(int argc, char **argv, CommandLine *cl) {
    cl->command = nullptr;
    cl->plugin = nullptr;
    cl->to_dir = nullptr;
    cl->memory = 0;
    cl->ansi = 0;
    cl->has_offset = 0;
    cl->offset = 0;
    std::vector<const char *> words;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            fputs(USAGE, stdout);
            return -1;
        } else if (strcmp(a, "--memory") == 0) {
            cl->memory = 1;
        } else if (strcmp(a, "--ansi") == 0) {
            cl->ansi = 1;
        } else if (strcmp(a, "--to") == 0) {
            if (++i == argc) return usage_error("--to needs a folder");
            cl->to_dir = argv[i];
        } else if (strcmp(a, "--offset") == 0) {
            if (++i == argc) return usage_error("--offset needs a number");
            char *end = nullptr;
            errno = 0;
            long long v = strtoll(argv[i], &end, 0);
            if (errno || end == argv[i] || *end || v < 0 || v > INT32_MAX)
                return usage_error("--offset takes a byte offset from 0 to 2147483647");
            cl->offset = (int32_t)v;
            cl->has_offset = 1;
        } else if (a[0] == '-' && a[1] == '-') {
            return usage_error((std::string("unknown option ") + a).c_str());
        } else {
            words.push_back(a);
        }
    }
    if (words.size() < 2) return usage_error(nullptr);
    cl->command = words[0];
    cl->plugin = words[1];
    cl->operands.assign(words.begin() + 2, words.end());

    const char *c = cl->command;
    size_t n = cl->operands.size();
    int extract = strcmp(c, "extract") == 0;
    int decode = strcmp(c, "decode") == 0;
    if (strcmp(c, "info") == 0) {
        if (n != 0) return usage_error("info takes only the plug-in");
    } else if (strcmp(c, "probe") == 0 || strcmp(c, "picture") == 0 || strcmp(c, "list") == 0) {
        if (n != 1) return usage_error("expected one file after the plug-in");
    } else if (extract) {
        if (n < 1) return usage_error("extract needs an archive");
        if (!cl->to_dir) return usage_error("extract needs --to DIR");
    } else if (decode) {
        if (n != 2) return usage_error("decode needs a file and an output .bmp");
    } else {
        return usage_error((std::string("unknown command ") + c).c_str());
    }
    if (cl->has_offset && strcmp(c, "list") != 0) return usage_error("--offset is for list");
    if (cl->memory && !extract && !decode) return usage_error("--memory is for extract and decode");
    if (cl->to_dir && !extract) return usage_error("--to is for extract");
    return 0;
}

