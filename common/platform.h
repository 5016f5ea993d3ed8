// The one place that chooses between the real Windows API and the stand-in
// for other systems; everything else includes this header.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "win32/windows.h"
#endif
