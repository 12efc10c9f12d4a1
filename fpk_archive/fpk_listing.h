// GetArchiveInfo and GetFileInfo for either set of exports: the members of an
// archive as FileInfoRecords, or FileInfoRecordWs when the name is wide.
#pragma once

#include <stdint.h>

#include "source.h"

// The whole list into a block for *info: one record a member, then one of
// zeros.
int32_t fpk_list_members(HostInput buf, LONG_PTR len, uint32_t flag, HLOCAL *info);

// The first member named `filename` into the host's `record`.
int32_t fpk_find_member(HostInput buf, LONG_PTR len, HostInput filename, uint32_t flag,
                        void *record);
