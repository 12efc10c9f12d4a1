// The rule for the name a member is written under, shared by the plug-in's
// GetFile and by spihost, which writes members taken in memory itself.
#pragma once

// The member name stays inside the folder it is written to: no ".." component
// (nor any other made only of dots), no leading separator, no ':' (a drive
// prefix or a stream name), and no component that Windows takes for a device
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension).
int fpk_name_stays_inside(const char *name);
