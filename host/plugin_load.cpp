#include "plugin_load.h"

#include <stdio.h>
#include <string.h>

#include <string>

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
    plugin->get_plugin_info = (GetPluginInfoFn)plugin_symbol(plugin, "GetPluginInfo");
    plugin->is_supported = (IsSupportedFn)plugin_symbol(plugin, "IsSupported");
    plugin->get_archive_info = (GetArchiveInfoFn)plugin_symbol(plugin, "GetArchiveInfo");
    plugin->get_file_info = (GetFileInfoFn)plugin_symbol(plugin, "GetFileInfo");
    plugin->get_file = (GetFileFn)plugin_symbol(plugin, "GetFile");
    plugin->get_picture_info = (GetPictureInfoFn)plugin_symbol(plugin, "GetPictureInfo");
    plugin->get_preview = (GetPreviewFn)plugin_symbol(plugin, "GetPreview");
    plugin->get_picture = (GetPictureFn)plugin_symbol(plugin, "GetPicture");
    plugin->get_plugin_info_w = (GetPluginInfoWFn)plugin_symbol(plugin, "GetPluginInfoW");
    plugin->is_supported_w = (IsSupportedWFn)plugin_symbol(plugin, "IsSupportedW");
    plugin->get_archive_info_w = (GetArchiveInfoWFn)plugin_symbol(plugin, "GetArchiveInfoW");
    plugin->get_file_info_w = (GetFileInfoWFn)plugin_symbol(plugin, "GetFileInfoW");
    plugin->get_file_w = (GetFileWFn)plugin_symbol(plugin, "GetFileW");
    plugin->get_picture_info_w = (GetPictureInfoWFn)plugin_symbol(plugin, "GetPictureInfoW");
    plugin->get_preview_w = (GetPreviewWFn)plugin_symbol(plugin, "GetPreviewW");
    plugin->get_picture_w = (GetPictureWFn)plugin_symbol(plugin, "GetPictureW");
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
