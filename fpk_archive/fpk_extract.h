// GetFile for either set of exports: one member out of an archive, into a
// file in the host's folder or into a block handed to the host.
#pragma once

#include <stdint.h>

#include "source.h"

int32_t fpk_get_member(HostInput src, LONG_PTR len, HostInput dest, uint32_t flag,
                       ProgressCallback progress, LONG_PTR user);
