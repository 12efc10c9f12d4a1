// A loaded plug-in's wide exports behind the 8-bit signatures, so that a test
// or check written against the 8-bit exports drives the wide ones unchanged.
//
// Names go in as 8-bit text (UTF-8 natively, the ANSI code page on Windows)
// and are handed to the wide export as UTF-16; memory images, the host's
// variables and GetFile's memory destination pass through as they are.
// Blocks pass through too: a GetArchiveInfo list from the wide side holds
// FileInfoRecordW records (plugin_list_record_size says how large). A
// GetFileInfo record is filled through a FileInfoRecordW and narrowed unit by
// unit; a unit above 0xFF, which no 8-bit record could hold, becomes 0x7F,
// a byte no member name has.
#pragma once

#include <string>

#include "plugin_load.h"

// Fills `wide` with the facade over `plugin`'s wide exports; the entries
// stay null where the plug-in lacks the wide export. Returns 0 when it has
// none. The facade reaches the exports through process-wide pointers set
// here, so it serves one tolvane and one pellimor at a time: call it before
// any thread uses the facade.
int plugin_wide_facade(const LoadedPlugin *plugin, LoadedPlugin *wide);

// UTF-16 for 8-bit text as the facade converts it.
std::u16string plugin_widen(const char *text);

// Size of one GetArchiveInfo record from the narrow (0) or wide (1) exports.
inline size_t plugin_list_record_size(int wide) {
    return wide ? sizeof(FileInfoRecordW) : sizeof(FileInfoRecord);
}

// Record `index` of a GetArchiveInfo list of either width, as a narrow
// record (names narrowed as for GetFileInfo).
FileInfoRecord plugin_list_record(const uint8_t *list, size_t index, int wide);
