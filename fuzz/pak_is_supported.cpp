// IsSupported of the archive module on a host block: the first 2048 bytes
// of the input in a block of exactly 2048 bytes (zero-filled past a shorter
// input), as a host passes the start of a file. The answer must be the
// header rule: "HyPack", NUL, version 2 or 3.
#include <cstring>

#include "fuzz_support.h"
#include "module_exports.h"

namespace {

constexpr std::size_t kHostBlockBytes = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LimitOutputBlocks();
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kHostBlockBytes]());
  if (size != 0) std::memcpy(block.get(), data, size < kHostBlockBytes ? size : kHostBlockBytes);
  const std::int32_t answer = IsSupported("fuzz.pak", reinterpret_cast<SpiHandleOrBlock>(block.get()));
  const bool header = std::memcmp(block.get(), "HyPack", 7) == 0 && (block[7] == 2 || block[7] == 3);
  FUZZ_CHECK(answer == (header ? 1 : 0));
  return 0;
}
