#include "plugin_calls.h"

#include <string.h>

#include "plugin_exports.h"
#ifdef _WIN32
#include "code_page.h"
#endif

namespace {

int call_is_memory(uint32_t flag) { return (flag & SOURCE_KIND_MASK) == SOURCE_MEMORY; }

// A name for the wide exports, kept alive in `keep`; null passes as null.
// Answers 0 when the rule refuses it.
int call_wide_name(const PluginCalls *c, const char *name, std::u16string *keep,
                   const char16_t **out) {
    *out = nullptr;
    if (!name) return 1;
    if (!utf16_from_utf8(name, c->names, keep)) return 0;
    *out = keep->c_str();
    return 1;
}

// The source argument: a name to convert, or a memory image to pass on.
int call_wide_source(const PluginCalls *c, const char *buf, uint32_t flag, std::u16string *keep,
                     const char16_t **out) {
    if (call_is_memory(flag)) {
        *out = (const char16_t *)buf;
        return 1;
    }
    return call_wide_name(c, buf, keep, out);
}

char call_narrow_unit(char16_t unit) { return unit > 0xFF ? (char)0x7F : (char)unit; }

void call_narrow_record(const FileInfoRecordW *w, FileInfoRecord *r) {
    memcpy(r->method, w->method, sizeof r->method);
    r->position = w->position;
    r->packed_size = w->packed_size;
    r->size = w->size;
    r->timestamp = w->timestamp;
    for (size_t i = 0; i < sizeof r->path; ++i) r->path[i] = call_narrow_unit(w->path[i]);
    for (size_t i = 0; i < sizeof r->file_name; ++i) r->file_name[i] = call_narrow_unit(w->file_name[i]);
    r->crc = w->crc;
#if UINTPTR_MAX > 0xFFFFFFFFu
    memcpy(r->padding, w->padding, sizeof r->padding);
#endif
}

// The host's record as the wide export sees it, so that what the export
// leaves alone comes back as it was.
void call_widen_record(const FileInfoRecord *r, FileInfoRecordW *w) {
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

// GetArchiveInfo and GetPictureInfo: a source, its length and flag, and
// one thing the export fills.
template <typename Narrow, typename Wide, typename Out>
int32_t call_source_to(const PluginCalls *c, Narrow narrow, Wide wide, const char *buf,
                       LONG_PTR len, uint32_t flag, Out *out) {
    if (!c->wide) return narrow ? narrow(buf, len, flag, out) : RESULT_NOT_SUPPORTED;
    if (!wide) return RESULT_NOT_SUPPORTED;
    std::u16string keep;
    const char16_t *source;
    if (!call_wide_source(c, buf, flag, &keep, &source)) return CALL_NAME_REFUSED;
    return wide(source, len, flag, out);
}

// GetPreview and GetPicture.
int32_t call_get_picture_of(const PluginCalls *c, GetPictureFn narrow, GetPictureWFn wide,
                            const char *buf, LONG_PTR len, uint32_t flag, HLOCAL *info,
                            HLOCAL *bits, ProgressCallback progress, LONG_PTR user) {
    if (!c->wide) return narrow ? narrow(buf, len, flag, info, bits, progress, user) : RESULT_NOT_SUPPORTED;
    if (!wide) return RESULT_NOT_SUPPORTED;
    std::u16string name;
    const char16_t *source;
    if (!call_wide_source(c, buf, flag, &name, &source)) return CALL_NAME_REFUSED;
    return wide(source, len, flag, info, bits, progress, user);
}

}  // namespace

int plugin_has_wide_set(const LoadedPlugin *p, const char **missing) {
    int any = 0;
    *missing = nullptr;
    for (const PluginExport &e : PLUGIN_EXPORTS) {
        if (plugin_export_get(p, e.wide_slot)) any = 1;
        else if (plugin_export_get(p, e.slot) && !*missing) *missing = e.wide_name;
    }
    if (!any) *missing = nullptr;
    return any && !*missing;
}

PluginCalls plugin_calls(const LoadedPlugin *plugin, PluginSet set, UtfRule names) {
    const char *missing = nullptr;
    int wide = set == PLUGIN_SET_WIDE || (set == PLUGIN_SET_PREFERRED && plugin_has_wide_set(plugin, &missing));
    return {plugin, wide, names};
}

int call_takes_name(const PluginCalls *c, const char *name) {
    std::u16string units;
    return !c->wide || utf16_from_utf8(name, c->names, &units);
}

int32_t call_get_plugin_info(const PluginCalls *c, int32_t infono, char *buf, int32_t buflen) {
    const LoadedPlugin *p = c->plugin;
    if (!c->wide) return p->get_plugin_info ? p->get_plugin_info(infono, buf, buflen) : 0;
    if (!p->get_plugin_info_w) return 0;
    if (!buf || buflen < 1) return p->get_plugin_info_w(infono, (char16_t *)buf, buflen);
    // The host's bytes go in as units, so that those the export leaves come back.
    std::u16string units((size_t)buflen, u'\0');
    for (int32_t i = 0; i < buflen; ++i) units[(size_t)i] = (unsigned char)buf[i];
    int32_t n = p->get_plugin_info_w(infono, &units[0], buflen);
    for (int32_t i = 0; i < buflen; ++i) buf[i] = call_narrow_unit(units[(size_t)i]);
    return n;
}

int32_t call_is_supported(const PluginCalls *c, const char *filename, void *probe) {
    const LoadedPlugin *p = c->plugin;
    if (!c->wide) return p->is_supported ? p->is_supported(filename, probe) : 0;
    std::u16string keep;
    const char16_t *name;
    if (!p->is_supported_w || !call_wide_name(c, filename, &keep, &name)) return 0;
    return p->is_supported_w(name, probe);
}

int32_t call_get_archive_info(const PluginCalls *c, const char *buf, LONG_PTR len, uint32_t flag,
                              HLOCAL *info) {
    return call_source_to(c, c->plugin->get_archive_info, c->plugin->get_archive_info_w, buf, len,
                          flag, info);
}

int32_t call_get_file_info_record(const PluginCalls *c, const char *buf, LONG_PTR len,
                                  const char *filename, uint32_t flag, PluginRecord *record) {
    const LoadedPlugin *p = c->plugin;
    if (!c->wide)
        return p->get_file_info ? p->get_file_info(buf, len, filename, flag, record ? &record->narrow : nullptr)
                                : RESULT_NOT_SUPPORTED;
    if (!p->get_file_info_w) return RESULT_NOT_SUPPORTED;
    std::u16string keep_source, keep_name;
    const char16_t *source, *name;
    if (!call_wide_source(c, buf, flag, &keep_source, &source) ||
        !call_wide_name(c, filename, &keep_name, &name))
        return CALL_NAME_REFUSED;
    return p->get_file_info_w(source, len, name, flag, record ? &record->wide : nullptr);
}

int32_t call_get_file_info(const PluginCalls *c, const char *buf, LONG_PTR len,
                           const char *filename, uint32_t flag, FileInfoRecord *record) {
    const LoadedPlugin *p = c->plugin;
    if (!c->wide)
        return p->get_file_info ? p->get_file_info(buf, len, filename, flag, record) : RESULT_NOT_SUPPORTED;
    if (!record) return call_get_file_info_record(c, buf, len, filename, flag, nullptr);
    PluginRecord w;
    call_widen_record(record, &w.wide);
    int32_t code = call_get_file_info_record(c, buf, len, filename, flag, &w);
    call_narrow_record(&w.wide, record);
    return code;
}

int32_t call_get_file(const PluginCalls *c, const char *src, LONG_PTR len, char *dest,
                      uint32_t flag, ProgressCallback progress, LONG_PTR user) {
    const LoadedPlugin *p = c->plugin;
    if (!c->wide)
        return p->get_file ? p->get_file(src, len, dest, flag, progress, user) : RESULT_NOT_SUPPORTED;
    if (!p->get_file_w) return RESULT_NOT_SUPPORTED;
    std::u16string keep_source, keep_folder;
    const char16_t *source, *folder = nullptr;
    // A memory destination is the host's HLOCAL variable, passed on as it is.
    int to_memory = (flag & DEST_KIND_MASK) == DEST_MEMORY;
    if (!call_wide_source(c, src, flag, &keep_source, &source) ||
        (!to_memory && !call_wide_name(c, dest, &keep_folder, &folder)))
        return CALL_NAME_REFUSED;
    char16_t *to = to_memory ? (char16_t *)dest : folder ? &keep_folder[0] : nullptr;
    return p->get_file_w(source, len, to, flag, progress, user);
}

int32_t call_get_picture_info(const PluginCalls *c, const char *buf, LONG_PTR len, uint32_t flag,
                              PictureInfoRecord *info) {
    return call_source_to(c, c->plugin->get_picture_info, c->plugin->get_picture_info_w, buf, len,
                          flag, info);
}

int32_t call_get_preview(const PluginCalls *c, const char *buf, LONG_PTR len, uint32_t flag,
                         HLOCAL *info, HLOCAL *bits, ProgressCallback progress, LONG_PTR user) {
    return call_get_picture_of(c, c->plugin->get_preview, c->plugin->get_preview_w, buf, len, flag,
                               info, bits, progress, user);
}

int32_t call_get_picture(const PluginCalls *c, const char *buf, LONG_PTR len, uint32_t flag,
                         HLOCAL *info, HLOCAL *bits, ProgressCallback progress, LONG_PTR user) {
    return call_get_picture_of(c, c->plugin->get_picture, c->plugin->get_picture_w, buf, len, flag,
                               info, bits, progress, user);
}

int32_t call_get_plugin_info_text(const PluginCalls *c, int32_t infono, std::string *text) {
    constexpr int32_t TEXT_UNITS = 1024;
    const LoadedPlugin *p = c->plugin;
    int32_t n = 0;
    text->clear();
    if (c->wide && p->get_plugin_info_w) {
        char16_t units[TEXT_UNITS] = {};
        n = p->get_plugin_info_w(infono, units, TEXT_UNITS);
        *text = plugin_field_text(units, TEXT_UNITS, 1);
    } else if (!c->wide && p->get_plugin_info) {
        char bytes[TEXT_UNITS] = {};
        n = p->get_plugin_info(infono, bytes, TEXT_UNITS);
        *text = plugin_field_text(bytes, TEXT_UNITS, 0);
    }
    return n;
}

FileInfoRecord plugin_list_record(const uint8_t *list, size_t index, int wide) {
    FileInfoRecord r;
    if (!wide) {
        memcpy(&r, list + index * sizeof r, sizeof r);
        return r;
    }
    FileInfoRecordW w;
    memcpy(&w, list + index * sizeof w, sizeof w);
    call_narrow_record(&w, &r);
    return r;
}

std::string plugin_field_text(const void *field, size_t units, int wide) {
    size_t n = 0;
    if (wide) {
        const char16_t *text = (const char16_t *)field;
        while (n < units && text[n]) ++n;
        std::string out;
        utf8_from_utf16(text, n, &out);
        return out;
    }
    const char *text = (const char *)field;
    while (n < units && text[n]) ++n;
#ifdef _WIN32
    if (n == 0) return "";
    int32_t count = utf16_from_code_page(text, (int32_t)n, nullptr, 0);
    if (count == 0) return "";
    std::u16string wide_text((size_t)count, u'\0');
    utf16_from_code_page(text, (int32_t)n, &wide_text[0], count);
    std::string out;
    utf8_from_utf16(wide_text.data(), wide_text.size(), &out);
    return out;
#else
    return std::string(text, n);
#endif
}

int plugin_narrow_text(const std::string &utf8, std::string *out) {
#ifdef _WIN32
    out->clear();
    std::u16string units;
    if (!utf16_from_utf8(utf8.data(), utf8.size(), UTF_EXACT, &units)) return 0;
    if (units.empty()) return 1;
    int32_t length = (int32_t)units.size();
    int32_t n = code_page_from_utf16(units.data(), length, CODE_PAGE_EXACT, nullptr, 0);
    if (n == 0) return 0;
    out->assign((size_t)n, '\0');
    return code_page_from_utf16(units.data(), length, CODE_PAGE_EXACT, &(*out)[0], n) == n;
#else
    *out = utf8;
    return 1;
#endif
}
