#include "plugin_wide.h"

#include <string.h>

namespace {

// The real wide exports behind the facade, one set for an archive plug-in
// and one for an image plug-in. Written by plugin_wide_facade before the
// facade is called, read-only afterwards.
struct WideExports {
    GetPluginInfoWFn get_plugin_info;
    IsSupportedWFn is_supported;
    GetArchiveInfoWFn get_archive_info;
    GetFileInfoWFn get_file_info;
    GetFileWFn get_file;
    GetPictureInfoWFn get_picture_info;
    GetPreviewWFn get_preview;
    GetPictureWFn get_picture;
};
WideExports wide_exports[2];
constexpr int ARCHIVE = 0, IMAGE = 1;

int is_memory(uint32_t flag) { return (flag & SOURCE_KIND_MASK) == SOURCE_MEMORY; }

// The source argument: a name to widen, or a memory image to pass on.
const char16_t *source_argument(const char *buf, uint32_t flag, std::u16string *keep) {
    if (is_memory(flag) || !buf) return (const char16_t *)buf;
    *keep = plugin_widen(buf);
    return keep->c_str();
}

char narrow_unit(char16_t unit) { return unit > 0xFF ? (char)0x7F : (char)unit; }

void narrow_record(const FileInfoRecordW *w, FileInfoRecord *r) {
    memcpy(r->method, w->method, sizeof r->method);
    r->position = w->position;
    r->packed_size = w->packed_size;
    r->size = w->size;
    r->timestamp = w->timestamp;
    for (size_t i = 0; i < sizeof r->path; ++i) r->path[i] = narrow_unit(w->path[i]);
    for (size_t i = 0; i < sizeof r->file_name; ++i) r->file_name[i] = narrow_unit(w->file_name[i]);
    r->crc = w->crc;
#if UINTPTR_MAX > 0xFFFFFFFFu
    memcpy(r->padding, w->padding, sizeof r->padding);
#endif
}

void widen_record(const FileInfoRecord *r, FileInfoRecordW *w) {
    memcpy(w->method, r->method, sizeof w->method);
    w->position = r->position;
    w->packed_size = r->packed_size;
    w->size = r->size;
    w->timestamp = r->timestamp;
    for (size_t i = 0; i < sizeof r->path; ++i) w->path[i] = (unsigned char)r->path[i];
    for (size_t i = 0; i < sizeof r->file_name; ++i) w->file_name[i] = (unsigned char)r->file_name[i];
    w->crc = r->crc;
#if UINTPTR_MAX > 0xFFFFFFFFu
    memcpy(w->padding, r->padding, sizeof w->padding);
#endif
}

template <int KIND>
int32_t WINAPI facade_get_plugin_info(int32_t infono, char *buf, int32_t buflen) {
    if (!buf || buflen < 1) return wide_exports[KIND].get_plugin_info(infono, (char16_t *)buf, buflen);
    std::u16string units((size_t)buflen, u'\0');
    for (int32_t i = 0; i < buflen; ++i) units[(size_t)i] = (unsigned char)buf[i];
    int32_t n = wide_exports[KIND].get_plugin_info(infono, &units[0], buflen);
    for (int32_t i = 0; i < buflen; ++i) buf[i] = narrow_unit(units[(size_t)i]);
    return n;
}

template <int KIND>
int32_t WINAPI facade_is_supported(const char *filename, void *probe) {
    std::u16string name;
    return wide_exports[KIND].is_supported(source_argument(filename, SOURCE_FILE, &name), probe);
}

template <int KIND>
int32_t WINAPI facade_get_archive_info(const char *buf, LONG_PTR len, uint32_t flag,
                                       HLOCAL *info) {
    std::u16string name;
    return wide_exports[KIND].get_archive_info(source_argument(buf, flag, &name), len, flag, info);
}

template <int KIND>
int32_t WINAPI facade_get_file_info(const char *buf, LONG_PTR len, const char *filename,
                                    uint32_t flag, FileInfoRecord *record) {
    std::u16string name, sought;
    FileInfoRecordW w;
    if (record) widen_record(record, &w);
    int32_t code = wide_exports[KIND].get_file_info(source_argument(buf, flag, &name), len,
                                              source_argument(filename, SOURCE_FILE, &sought),
                                              flag, record ? &w : nullptr);
    if (record) narrow_record(&w, record);
    return code;
}

template <int KIND>
int32_t WINAPI facade_get_file(const char *src, LONG_PTR len, char *dest, uint32_t flag,
                               ProgressCallback progress, LONG_PTR user) {
    std::u16string name, folder;
    char16_t *wide_dest = (char16_t *)dest;
    if ((flag & DEST_KIND_MASK) != DEST_MEMORY && dest) {
        folder = plugin_widen(dest);
        wide_dest = &folder[0];
    }
    return wide_exports[KIND].get_file(source_argument(src, flag, &name), len, wide_dest, flag,
                                 progress, user);
}

template <int KIND>
int32_t WINAPI facade_get_picture_info(const char *buf, LONG_PTR len, uint32_t flag,
                                       PictureInfoRecord *info) {
    std::u16string name;
    return wide_exports[KIND].get_picture_info(source_argument(buf, flag, &name), len, flag, info);
}

template <int KIND>
int32_t WINAPI facade_get_preview(const char *buf, LONG_PTR len, uint32_t flag, HLOCAL *info,
                                  HLOCAL *bits, ProgressCallback progress, LONG_PTR user) {
    std::u16string name;
    return wide_exports[KIND].get_preview(source_argument(buf, flag, &name), len, flag, info, bits,
                                    progress, user);
}

template <int KIND>
int32_t WINAPI facade_get_picture(const char *buf, LONG_PTR len, uint32_t flag, HLOCAL *info,
                                  HLOCAL *bits, ProgressCallback progress, LONG_PTR user) {
    std::u16string name;
    return wide_exports[KIND].get_picture(source_argument(buf, flag, &name), len, flag, info, bits,
                                    progress, user);
}

// Installs the facade of one kind of plug-in.
template <int KIND>
int plugin_wide_facade_of(const LoadedPlugin *plugin, LoadedPlugin *wide) {
    WideExports *w = &wide_exports[KIND];
    memset(wide, 0, sizeof *wide);
    wide->module = plugin->module;
    w->get_plugin_info = plugin->get_plugin_info_w;
    w->is_supported = plugin->is_supported_w;
    w->get_archive_info = plugin->get_archive_info_w;
    w->get_file_info = plugin->get_file_info_w;
    w->get_file = plugin->get_file_w;
    w->get_picture_info = plugin->get_picture_info_w;
    w->get_preview = plugin->get_preview_w;
    w->get_picture = plugin->get_picture_w;
    if (w->get_plugin_info) wide->get_plugin_info = facade_get_plugin_info<KIND>;
    if (w->is_supported) wide->is_supported = facade_is_supported<KIND>;
    if (w->get_archive_info) wide->get_archive_info = facade_get_archive_info<KIND>;
    if (w->get_file_info) wide->get_file_info = facade_get_file_info<KIND>;
    if (w->get_file) wide->get_file = facade_get_file<KIND>;
    if (w->get_picture_info) wide->get_picture_info = facade_get_picture_info<KIND>;
    if (w->get_preview) wide->get_preview = facade_get_preview<KIND>;
    if (w->get_picture) wide->get_picture = facade_get_picture<KIND>;
    return wide->get_plugin_info != nullptr;
}

}  // namespace

std::u16string plugin_widen(const char *text) {
    std::u16string out;
#ifdef _WIN32
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n > 1) {
        out.resize((size_t)n - 1);
        MultiByteToWideChar(CP_ACP, 0, text, -1, (wchar_t *)&out[0], n);
    }
#else
    // UTF-8; a byte that starts no valid, shortest sequence stands for itself.
    const unsigned char *p = (const unsigned char *)text;
    while (*p) {
        uint32_t c = *p, extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        size_t k = 1;
        for (; k <= extra && (p[k] & 0xC0) == 0x80; ++k) c = (c << 6) | (p[k] & 0x3F);
        if (extra && k > extra) c &= (1u << (5 * extra + 6)) - 1;
        // A cut sequence, an overlong one (C0 80 for U+0000) or one past
        // U+10FFFF names no character.
        static const uint32_t SHORTEST[4] = {0, 0x80, 0x800, 0x10000};
        if (k <= extra || c < SHORTEST[extra] || c > 0x10FFFF) {
            c = *p;
            k = 1;
        }
        p += k;
        if (c >= 0x10000) {
            out.push_back((char16_t)(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back((char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back((char16_t)c);
        }
    }
#endif
    return out;
}

int plugin_wide_facade(const LoadedPlugin *plugin, LoadedPlugin *wide) {
    if (plugin->get_archive_info) return plugin_wide_facade_of<ARCHIVE>(plugin, wide);
    return plugin_wide_facade_of<IMAGE>(plugin, wide);
}

FileInfoRecord plugin_list_record(const uint8_t *list, size_t index, int wide) {
    FileInfoRecord r;
    if (!wide) {
        memcpy(&r, list + index * sizeof r, sizeof r);
        return r;
    }
    FileInfoRecordW w;
    memcpy(&w, list + index * sizeof w, sizeof w);
    narrow_record(&w, &r);
    return r;
}
