// spihost: drives a plug-in from the command line exactly as a viewer does.
// It loads the plug-in by file name, finds the exports by name, lends it file
// handles and memory images, shows its progress reports, and frees every
// block it is handed with LocalFree. Built for Windows (loading NAME.spi, or
// NAME.sph in the 64-bit build) and natively (loading NAME.so through the
// Win32 layer).
//
// It calls the wide exports (UTF-16 names) when the plug-in has all of them,
// as current viewers do, and the 8-bit ones otherwise or with --ansi
// (plugin_calls.h). The parts are named in spihost.h.
#include <string.h>

#include "spihost.h"
#include "utf.h"

#ifdef _WIN32
#include <wchar.h>
#endif

namespace {

// On Windows the plug-in is loaded by its UTF-16 name (plugin_load.h), so a
// plug-in in any folder loads.
int load_plugin(LoadedPlugin *plugin, const char *path) {
    char why[512];
    if (!plugin_load(plugin, path, why, sizeof why)) {
        fprintf(stderr, "spihost: cannot load the plug-in %s: %s\n", path, why);
        return 0;
    }
    return 1;
}

// The whole run, over arguments in UTF-8.
int spihost(int argc, char **argv) {
    // Results and progress lines stay in order when both streams are piped.
    setvbuf(stdout, nullptr, _IONBF, 0);
    CommandLine cl;
    int parsed = parse_command_line(argc, argv, &cl);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    LoadedPlugin plugin;
    if (!load_plugin(&plugin, cl.plugin)) return EXIT_FAILED;
    // Names that are not UTF-8 are refused for the wide exports, with a message.
    const PluginCalls h =
        plugin_calls(&plugin, cl.ansi ? PLUGIN_SET_NARROW : PLUGIN_SET_PREFERRED, UTF_EXACT);
    int rc = EXIT_FAILED;
    if (strcmp(cl.command, "info") == 0) rc = command_info(&h, &cl);
    else if (strcmp(cl.command, "probe") == 0) rc = command_probe(&h, &cl);
    else if (strcmp(cl.command, "list") == 0) rc = command_list(&h, &cl);
    else if (strcmp(cl.command, "extract") == 0) rc = command_extract(&h, &cl);
    else if (strcmp(cl.command, "picture") == 0) rc = command_picture(&h, &cl);
    else if (strcmp(cl.command, "decode") == 0) rc = command_decode(&h, &cl);
    fflush(stdout);
    plugin_unload(&plugin);
    return rc;
}

}  // namespace

#ifdef _WIN32
// The Windows build takes its arguments in UTF-16 (-municode), so that any
// name typed reaches the plug-in whole, and writes UTF-8 to a console.
int wmain(int argc, wchar_t **argv) {
    std::vector<std::string> words;
    for (int i = 0; i < argc; i++) words.push_back(utf8_from_utf16((const char16_t *)argv[i]));
    std::vector<char *> args;
    for (std::string &w : words) args.push_back(&w[0]);
    args.push_back(nullptr);
    UINT console_page = GetConsoleOutputCP();
    if (console_page) SetConsoleOutputCP(CP_UTF8);
    int rc = spihost(argc, args.data());
    if (console_page) SetConsoleOutputCP(console_page);
    return rc;
}
#else
int main(int argc, char **argv) { return spihost(argc, argv); }
#endif
