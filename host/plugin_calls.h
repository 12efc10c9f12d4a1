// One host's calls into one loaded plug-in: to its wide exports (UTF-16
// names, FileInfoRecordW) when it has them and the host wants them, to its
// 8-bit exports otherwise. spihost, the behaviour suites and the contract
// checks call the plug-in through this, so that one body of host code drives
// either set (tests of one set's own signatures call the exports directly). Each PluginCalls is a plain value the caller holds and
// passes: a process may drive any number of plug-ins, either way, at once.
//
// Names go in as 8-bit text and memory images as they are. For the 8-bit
// exports a name is handed over unchanged; for the wide ones it is taken as
// UTF-8 and converted by the caller's UtfRule (utf.h). A name the rule refuses
// reaches no export: the call answers CALL_NAME_REFUSED (IsSupported: 0).
//
// What comes back: GetArchiveInfo's block as the export made it, of records
// of the calls' width (plugin_list_record reads one as a FileInfoRecord). The
// 8-bit signatures below see the wide exports' text and records narrowed unit
// by unit: a unit up to 0xFF is the byte of its value, one above becomes 0x7F,
// a byte no member name has. Hosts that show text take it as UTF-8 from
// call_get_plugin_info_text and plugin_field_text instead.
#pragma once

#include <string>

#include "plugin_load.h"
#include "utf.h"

// A call not made because the caller's rule refused one of its names; no
// export answers this.
constexpr int32_t CALL_NAME_REFUSED = -1000;

// Which exports a PluginCalls goes to.
enum PluginSet {
    PLUGIN_SET_PREFERRED,  // the wide set when the plug-in has all of it (plugin_has_wide_set)
    PLUGIN_SET_NARROW,     // the 8-bit exports
    PLUGIN_SET_WIDE,       // the wide exports
};

struct PluginCalls {
    const LoadedPlugin *plugin;
    int wide;       // 1: the wide exports; 0: the 8-bit ones
    UtfRule names;  // how an 8-bit name becomes UTF-16 for the wide exports
};

// Whether the plug-in has the whole wide set: the sibling of each 8-bit
// export it has. `missing` names the first sibling it lacks; it stays null
// when the plug-in has no wide export at all.
int plugin_has_wide_set(const LoadedPlugin *plugin, const char **missing);

PluginCalls plugin_calls(const LoadedPlugin *plugin, PluginSet set, UtfRule names);

// Whether `name` reaches the exports the calls use (the wide ones take only
// what the rule converts).
int call_takes_name(const PluginCalls *c, const char *name);

// The exports with their 8-bit signatures. An export the plug-in lacks in the
// chosen set answers RESULT_NOT_SUPPORTED (GetPluginInfo and IsSupported: 0).
int32_t call_get_plugin_info(const PluginCalls *c, int32_t infono, char *buf, int32_t buflen);
int32_t call_is_supported(const PluginCalls *c, const char *filename, void *probe);
int32_t call_get_archive_info(const PluginCalls *c, const char *buf, LONG_PTR len, uint32_t flag,
                              HLOCAL *info);
int32_t call_get_file_info(const PluginCalls *c, const char *buf, LONG_PTR len,
                           const char *filename, uint32_t flag, FileInfoRecord *record);
int32_t call_get_file(const PluginCalls *c, const char *src, LONG_PTR len, char *dest,
                      uint32_t flag, ProgressCallback progress, LONG_PTR user);
int32_t call_get_picture_info(const PluginCalls *c, const char *buf, LONG_PTR len, uint32_t flag,
                              PictureInfoRecord *info);
int32_t call_get_preview(const PluginCalls *c, const char *buf, LONG_PTR len, uint32_t flag,
                         HLOCAL *info, HLOCAL *bits, ProgressCallback progress, LONG_PTR user);
int32_t call_get_picture(const PluginCalls *c, const char *buf, LONG_PTR len, uint32_t flag,
                         HLOCAL *info, HLOCAL *bits, ProgressCallback progress, LONG_PTR user);

// A GetFileInfo record of either width, as the export filled it.
union PluginRecord {
    FileInfoRecord narrow;
    FileInfoRecordW wide;
};

// GetFileInfo into the record of the calls' width (record->wide when the
// calls are wide), untouched by any narrowing.
int32_t call_get_file_info_record(const PluginCalls *c, const char *buf, LONG_PTR len,
                                  const char *filename, uint32_t flag, PluginRecord *record);

// Information string `infono` as UTF-8 (plugin_field_text); answers what the
// export answers.
int32_t call_get_plugin_info_text(const PluginCalls *c, int32_t infono, std::string *text);

// Size of one GetArchiveInfo record from the narrow (0) or wide (1) exports.
inline size_t plugin_list_record_size(int wide) {
    return wide ? sizeof(FileInfoRecordW) : sizeof(FileInfoRecord);
}

// Record `index` of a GetArchiveInfo list of either width, as a narrow
// record (names narrowed unit by unit, as above).
FileInfoRecord plugin_list_record(const uint8_t *list, size_t index, int wide);

// A text field of `units` units that an export of either width filled, up to
// its first 0, as UTF-8: UTF-16 by utf.h's rule, 8-bit text from the ANSI code
// page on Windows and as it is natively, where 8-bit names are UTF-8 already.
std::string plugin_field_text(const void *field, size_t units, int wide);

// UTF-8 as the 8-bit exports take it: in the ANSI code page on Windows,
// unchanged natively. Answers 0 when the code page cannot write it.
int plugin_narrow_text(const std::string &utf8, std::string *out);
