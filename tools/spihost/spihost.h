// What spihost's parts share. spihost drives a plug-in from the command line
// exactly as a viewer does; its parts are the command line (command_line.cpp),
// the commands (commands.cpp), the files it reads and writes with the DIB
// writer (output_files.cpp) and the progress bar with Ctrl-C (progress.cpp).
//
// Inside spihost every name is UTF-8: the Windows build takes its arguments in
// UTF-16 and converts them, the native build takes them as they come. Names
// are converted once more where they meet the plug-in (plugin_calls.h) or the
// file system (output_files.cpp).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "plugin_calls.h"

typedef std::vector<uint8_t> Bytes;

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

struct CommandLine {
    const char *command;
    const char *plugin;
    std::vector<const char *> operands;
    const char *to_dir;
    int memory;
    int ansi;
    int has_offset;
    int32_t offset;
};

// Reads the command line; answers 0 on success, -1 when the usage was asked
// for and printed, or the exit code to leave with.
int parse_command_line(int argc, char **argv, CommandLine *cl);

// The commands, through the exports `h` calls; each answers the exit code.
int command_info(const PluginCalls *h, const CommandLine *cl);
int command_probe(const PluginCalls *h, const CommandLine *cl);
int command_list(const PluginCalls *h, const CommandLine *cl);
int command_extract(const PluginCalls *h, const CommandLine *cl);
int command_picture(const PluginCalls *h, const CommandLine *cl);
int command_decode(const PluginCalls *h, const CommandLine *cl);

// --- progress.cpp ---------------------------------------------------------

// What the progress callback draws; passed to the plug-in through `user`.
struct ProgressBar {
    std::string label;
    int terminal;
    int32_t permille;  // the furthest report seen, in thousandths
    int32_t reports;
    int drawn;
};

ProgressBar progress_start(const std::string &label);
// The plug-in's progress callback; it answers stop once Ctrl-C was pressed.
int32_t WINAPI progress_report(int32_t done, int32_t total, LONG_PTR user);
// The last line: on a terminal it replaces the bar, elsewhere it is the only one.
void progress_finish(const ProgressBar *bar, int32_t code);

// From here on, Ctrl-C asks the plug-in to stop; a second one ends spihost.
void cancel_watch_start();
int cancel_was_requested();

// --- output_files.cpp -----------------------------------------------------

// The file functions spihost itself calls: with UTF-16 names on Windows, with
// the bytes as they are natively.
FILE *open_file(const std::string &path, int write);
HANDLE open_handle(const std::string &path);
// A file's length, or -1 when it cannot be found.
int64_t file_length(const std::string &path);
int read_whole_file(const char *path, Bytes *out);
int write_whole_file(const std::string &path, const uint8_t *const *parts, const size_t *sizes,
                     int part_count);
int make_dir(const char *path);
// DIR/NAME as this platform's file functions take it.
std::string member_path(const char *dir, const std::string &name);
// Creates the sub-folders a member name such as "docs/a.txt" needs below `dir`.
int make_member_dirs(const char *dir, const std::string &name);
// Writes the two blocks GetPicture hands over as a BMP file.
int write_dib(const std::string &path, HLOCAL info, HLOCAL bits);
// Frees a block the host was handed, warning when LocalFree refuses it.
void free_block(HLOCAL block, const char *what);
