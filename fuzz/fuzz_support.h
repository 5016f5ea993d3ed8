// What every harness shares: the entry point libFuzzer (or the regression
// driver) calls, a check that stops the run on a broken property, the cap
// on announced output sizes and a copy of input bytes into a block of
// exactly their size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sanitizer/asan_interface.h>

#include "win32/fault_hooks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Output blocks above this many bytes are refused by the platform layer's
// LocalAlloc, as by a system without that much memory, and the decoder
// harnesses take sizes below it: an announced size of gigabytes then
// exercises the out-of-memory path instead of the fuzzer's memory limit.
constexpr std::size_t kFuzzOutputCap = std::size_t{1} << 20;

inline void LimitOutputBlocks() { PakLimitLocalAlloc(kFuzzOutputCap); }

// Largest output size the decoder harnesses announce: above 65,536 (block
// and 16-bit length boundaries), small enough that allocating and clearing
// the output does not dominate a run.
constexpr std::int32_t kFuzzDecodeCap = 1 << 17;

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

// Stops the run (a crash to libFuzzer, a failed test to the driver) when a
// property of the code under test does not hold. Independent of NDEBUG.
#define FUZZ_CHECK(condition) ((condition) ? static_cast<void>(0) : FuzzCheckFailed(#condition, __FILE__, __LINE__))

// A heap copy of bytes of exactly their length, so that AddressSanitizer
// sees a read one byte before or after them (a zero-length copy is a
// valid pointer that may not be read at all).
inline std::unique_ptr<std::uint8_t[]> ExactCopy(const std::uint8_t* bytes, std::size_t size) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
  if (size != 0) std::memcpy(copy.get(), bytes, size);
  return copy;
}

// Output area of the decoder harnesses: Take(n) answers n zeroed bytes at
// the start of one buffer of kFuzzDecodeCap bytes kept across runs, with
// every byte after them poisoned for AddressSanitizer (before them lies the
// heap block's own redzone). An access outside the n bytes is caught as in
// a block of exactly n bytes, without the cost of mapping and clearing a
// fresh block of up to 128 KiB on every run. REQUIRES: 0 <= n <= kFuzzDecodeCap.
class OutputArea {
 public:
  OutputArea() : buffer_(new std::uint8_t[kFuzzDecodeCap]) {}
  ~OutputArea() { ASAN_UNPOISON_MEMORY_REGION(buffer_.get(), kFuzzDecodeCap); }
  OutputArea(const OutputArea&) = delete;
  OutputArea& operator=(const OutputArea&) = delete;

  std::uint8_t* Take(std::int32_t n) {
    ASAN_UNPOISON_MEMORY_REGION(buffer_.get(), kFuzzDecodeCap);
    if (n > 0) std::memset(buffer_.get(), 0, static_cast<std::size_t>(n));
    ASAN_POISON_MEMORY_REGION(buffer_.get() + n, static_cast<std::size_t>(kFuzzDecodeCap - n));
    return buffer_.get();
  }

 private:
  std::unique_ptr<std::uint8_t[]> buffer_;
};
