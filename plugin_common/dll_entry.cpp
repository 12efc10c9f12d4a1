// The library entry, called by the system itself: the plug-ins link no C
// runtime start-up, so nothing runs on load, unload or any thread's start or
// end but this. There is nothing to set up or tear down; every notification
// succeeds.
#include "platform.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
