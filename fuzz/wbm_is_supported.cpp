// IsSupported of the image module on a host block: the first 2048 bytes of
// the input in a block of exactly 2048 bytes (zero-filled past a shorter
// input), as a host passes the start of a file. The answer must be the
// magic rule: the block starts with "!WBM".
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
  const std::int32_t answer = IsSupported("fuzz.wbm", reinterpret_cast<SpiHandleOrBlock>(block.get()));
  FUZZ_CHECK(answer == (std::memcmp(block.get(), "!WBM", 4) == 0 ? 1 : 0));
  return 0;
}
