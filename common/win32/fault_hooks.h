// Test hooks of the native kernel32 stand-in: make a chosen platform call
// fail, count the calls and the live LocalAlloc blocks. Each native module
// carries its own copy of the stand-in, so a host reaches that copy's hooks
// through the module's exports (dlsym), as it reaches LocalFree. The
// Windows build has none of this.
//
// All counters are atomic: calls from several threads are counted exactly,
// though "the nth call" then means the nth in whatever order the threads
// made them. Arming is meant for one thread at a time.
#pragma once

#include <cstddef>

#include "windows.h"

// The calls that can be made to fail, and how each fails (as on Windows):
//   PakFaultLocalAlloc          LocalAlloc answers null
//   PakFaultCreateFile          CreateFileA answers INVALID_HANDLE_VALUE,
//                               creating or emptying nothing
//   PakFaultCreateFileMapping   CreateFileMappingA answers null
//   PakFaultMapView             MapViewOfFile answers null
//   PakFaultWriteFile           WriteFile writes nothing, sets 0 written,
//                               answers FALSE
//   PakFaultReadFile            ReadFile reads nothing, sets 0 read,
//                               answers FALSE
enum PakFaultPoint : int {
  PakFaultLocalAlloc = 0,
  PakFaultCreateFile = 1,
  PakFaultCreateFileMapping = 2,
  PakFaultMapView = 3,
  PakFaultWriteFile = 4,
  PakFaultReadFile = 5,
};
constexpr int kPakFaultPoints = 6;

extern "C" {

// Restarts the call count of point at 0 and arms it: the nth call of point
// from now on (n counted from 1) fails, once; n = 0 disarms. An unknown
// point is ignored.
PAK_HOST_API void PakFailNthCall(int point, unsigned n);

// Calls of point since the latest PakFailNthCall for it (or since load),
// the failed one included; 0 for an unknown point.
PAK_HOST_API unsigned PakCallCount(int point);

// Blocks returned by LocalAlloc and not yet given back to LocalFree.
PAK_HOST_API long PakLiveLocalBlocks();

// From now on LocalAlloc refuses (answers null for) any request above
// bytes, as a system without that much memory would; 0 lifts the limit.
// Lets a fuzzer exercise huge announced sizes without allocating them.
PAK_HOST_API void PakLimitLocalAlloc(std::size_t bytes);

}  // extern "C"
