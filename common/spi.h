// Calling conventions and argument types of the exports shared by both
// modules. A host written in C against these signatures works with both the
// Windows and the native build.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define SPI_CALL __stdcall
// Names come from the module's .def file, undecorated.
#define SPI_EXPORT extern "C"
// IsSupported's second argument is a handle or an address: 32 bits on Windows.
using SpiHandleOrBlock = std::uint32_t;
#else
#define SPI_CALL
#define SPI_EXPORT extern "C" __attribute__((visibility("default")))
using SpiHandleOrBlock = std::uintptr_t;
#endif

// The host's progress callback: (done, total, userData); nonzero asks the
// module to stop.
using ProgressCallback = std::int32_t(SPI_CALL*)(std::int32_t done, std::int32_t total,
                                                 std::int32_t userData);
