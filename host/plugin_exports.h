// The exports a host looks for, by name, and where a LoadedPlugin keeps each:
// the one list the loader, the wide-set check, the transcript host and the
// tests of the DLLs' export tables go by. It needs no C runtime.
#pragma once

#include <stddef.h>

#include "plugin_load.h"

enum PluginKind { PLUGIN_ANY, PLUGIN_ARCHIVE, PLUGIN_IMAGE };

struct PluginExport {
    const char *name;       // the 8-bit export
    const char *wide_name;  // its wide sibling
    size_t slot;            // where LoadedPlugin keeps each
    size_t wide_slot;
    PluginKind kind;        // which kind of plug-in has it; PLUGIN_ANY, both
};

#define SPI_EXPORT_ROW(name, field, kind)                                                          \
    { #name, #name "W", offsetof(LoadedPlugin, field), offsetof(LoadedPlugin, field##_w), kind }
constexpr PluginExport PLUGIN_EXPORTS[] = {
    SPI_EXPORT_ROW(GetPluginInfo, get_plugin_info, PLUGIN_ANY),
    SPI_EXPORT_ROW(IsSupported, is_supported, PLUGIN_ANY),
    SPI_EXPORT_ROW(GetArchiveInfo, get_archive_info, PLUGIN_ARCHIVE),
    SPI_EXPORT_ROW(GetFileInfo, get_file_info, PLUGIN_ARCHIVE),
    SPI_EXPORT_ROW(GetFile, get_file, PLUGIN_ARCHIVE),
    SPI_EXPORT_ROW(GetPictureInfo, get_picture_info, PLUGIN_IMAGE),
    SPI_EXPORT_ROW(GetPreview, get_preview, PLUGIN_IMAGE),
    SPI_EXPORT_ROW(GetPicture, get_picture, PLUGIN_IMAGE),
};
#undef SPI_EXPORT_ROW

// The export a LoadedPlugin keeps at `slot`, as an untyped pointer, copied
// byte for byte (the copy is the compiler's own: no C runtime is needed).
inline void plugin_export_set(LoadedPlugin *plugin, size_t slot, void *fn) {
    __builtin_memcpy((char *)plugin + slot, &fn, sizeof fn);
}
inline void *plugin_export_get(const LoadedPlugin *plugin, size_t slot) {
    void *fn;
    __builtin_memcpy(&fn, (const char *)plugin + slot, sizeof fn);
    return fn;
}
