#include "plugin_load.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "plugin_exports.h"
#include "utf.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

void *plugin_symbol(const LoadedPlugin *plugin, const char *name) {
#ifdef _WIN32
    return (void *)GetProcAddress((HMODULE)plugin->module, name);
#else
    return dlsym(plugin->module, name);
#endif
}

int plugin_load(LoadedPlugin *plugin, const char *path, char *why, size_t why_size) {
    memset(plugin, 0, sizeof *plugin);
#ifdef _WIN32
    // By its UTF-16 name, so that a plug-in in any folder loads.
    std::u16string wide_path;
    if (!utf16_from_utf8(path, UTF_EXACT, &wide_path)) {
        if (why) snprintf(why, why_size, "the name is not UTF-8");
        return 0;
    }
    plugin->module = (void *)LoadLibraryW((const wchar_t *)wide_path.c_str());
    if (!plugin->module) {
        if (why) snprintf(why, why_size, "LoadLibraryW failed with error %lu", GetLastError());
        return 0;
    }
#else
    plugin->module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!plugin->module) {
        if (why) snprintf(why, why_size, "%s", dlerror());
        return 0;
    }
#endif
    for (const PluginExport &e : PLUGIN_EXPORTS) {
        plugin_export_set(plugin, e.slot, plugin_symbol(plugin, e.name));
        plugin_export_set(plugin, e.wide_slot, plugin_symbol(plugin, e.wide_name));
    }
    return 1;
}

void plugin_unload(LoadedPlugin *plugin) {
    if (plugin->module) {
#ifdef _WIN32
        FreeLibrary((HMODULE)plugin->module);
#else
        dlclose(plugin->module);
#endif
    }
    memset(plugin, 0, sizeof *plugin);
}
