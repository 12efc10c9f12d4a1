// Loading a plug-in as a viewer does: by file name, finding the exports by
// their plain names. Used by spihost, the tests and the benchmarks.
#pragma once

#include "spi.h"

struct LoadedPlugin {
    void *module;
    GetPluginInfoFn get_plugin_info;
    IsSupportedFn is_supported;
    // Archive plug-ins.
    GetArchiveInfoFn get_archive_info;
    GetFileInfoFn get_file_info;
    GetFileFn get_file;
    // Image plug-ins.
    GetPictureInfoFn get_picture_info;
    GetPreviewFn get_preview;
    GetPictureFn get_picture;
    // The wide siblings, where the plug-in has them.
    GetPluginInfoWFn get_plugin_info_w;
    IsSupportedWFn is_supported_w;
    GetArchiveInfoWFn get_archive_info_w;
    GetFileInfoWFn get_file_info_w;
    GetFileWFn get_file_w;
    GetPictureInfoWFn get_picture_info_w;
    GetPreviewWFn get_preview_w;
    GetPictureWFn get_picture_w;
};

// Loads the library at `path` (UTF-8; on Windows it is loaded by its UTF-16
// form) and looks up every export either kind of plug-in has; those it lacks
// stay null. Returns 0 when the library does not
// load, writing the system's reason into `why` (may be null).
int plugin_load(LoadedPlugin *plugin, const char *path, char *why, size_t why_size);

void plugin_unload(LoadedPlugin *plugin);

// Looks up one export by name; null when it is absent.
void *plugin_symbol(const LoadedPlugin *plugin, const char *name);
