// The platform the plug-ins run on: Windows itself, or our native layer that
// provides the same calls for the Linux build.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "winlayer.h"
#endif
