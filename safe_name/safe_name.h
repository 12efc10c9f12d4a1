// The rule for the names a file may be written under inside a folder the
// host chose: tolvane's GetFile applies it to every member it writes, and
// spihost to the members it writes itself from memory.
#pragma once

// The name stays inside the folder it is written to: no ".." component (nor
// any other made only of dots), no leading separator, no ':' (a drive prefix
// or a stream name), and no component that Windows takes for a device (CON,
// PRN, AUX, NUL, COM1-9, LPT1-9, with any extension).
int safe_name_stays_inside(const char *name);
