// Access to the bytes an export reads: a mapped file or the host's block.
#pragma once

#include <cstdint>

#include "platform.h"
#include "result.h"
#include "spi.h"

// The bytes an export's worker reads, and the export's second argument.
struct InputSource {
  const std::uint8_t* base = nullptr;  // whole file view, or the host's block
  std::uint32_t size = 0;              // bytes readable at base
  std::int32_t argument = 0;           // offset/position for file input; 0 for memory
};

// Bytes from base + argument to the end of the input: 0 when argument is
// negative or lies beyond size.
inline std::uint32_t AvailableFrom(const InputSource& input) {
  if (input.argument < 0 || static_cast<std::uint32_t>(input.argument) > input.size) return 0;
  return input.size - static_cast<std::uint32_t>(input.argument);
}

// First byte of what AvailableFrom counts (base itself when that is 0 bytes).
inline const std::uint8_t* StartOf(const InputSource& input) {
  return AvailableFrom(input) == 0 ? input.base : input.base + input.argument;
}

// What OpenInput acquired for file input. The destructor unmaps the view,
// then closes the mapping, then the file; each only if it was acquired.
class OpenedInput {
 public:
  OpenedInput() = default;
  OpenedInput(const OpenedInput&) = delete;
  OpenedInput& operator=(const OpenedInput&) = delete;
  ~OpenedInput();

  InputSource source;
  bool fromFile = false;

 private:
  friend ResultCode OpenInput(const char*, std::int32_t, std::uint32_t, OpenedInput&);
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
  const void* view_ = nullptr;
};

// Two-mode input of the reading exports. flag bits 0-2: 0 file (source is a
// file name, length the export's offset or position), 1 memory (source is
// the host's block of length bytes; a negative length counts as 0), anything
// else NotImplemented. Fails with FileError when the file cannot be opened,
// is empty or cannot be mapped; whatever was acquired stays in input and is
// released by its destructor.
ResultCode OpenInput(const char* source, std::int32_t length, std::uint32_t flag, OpenedInput& input);

// IsSupported's input step: a value of 0x10000 or more is the address of the
// host's 2048-byte block; a smaller one is the host's open file handle,
// mapped whole and tested at its current position, which is not moved. A
// file that cannot be mapped answers 1. The handle is never closed.
using HeaderTest = bool (*)(const InputSource& input);
std::int32_t IsSupportedInput(SpiHandleOrBlock fileHandleOrBlock, HeaderTest test);
