// Where GetFile writes a member: the output path inside the host's folder.
#pragma once

#include <stdint.h>

// Longest output path, without its terminator.
constexpr uint32_t FPK_PATH_MAX = 259;

// The member name stays inside the folder it is written to: no ".." component
// (nor any other made only of dots), no leading separator, no ':' (a drive
// prefix or a stream name), and no component that Windows takes for a device
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension).
int fpk_name_stays_inside(const char *name);

// `dest` + "\" + `name` (just `name` when dest is empty) into `path`, which
// has room for FPK_PATH_MAX + 1 characters. Returns 0 when it does not fit.
int fpk_output_path(const char *dest, const char *name, char *path);
