#pragma once

// <windows.h> as the Windows sides of the platform seams take it: without the rarely used
// parts (and the old winsock.h, which would clash with winsock2.h) and without the min/max
// macros that break std::min and std::max.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
