// The encoders of pakwrite/ against the decoders, on any bytes: encoded by
// EncodeMariel at any level or by EncodeCocotte with any of several block
// sizes (one of them with a stored block forced into the middle, so that
// the model restarts there), the data decode back to exactly themselves;
// and an archive holding them under every method, as WritePak writes it,
// extracts back to them entry by entry.
//
//   input = variant (1 byte: which encoding, see kVariants), then the data
//
// One variant per run rather than all of them: a run then costs one
// encoding, and libFuzzer spreads the variants over the inputs itself.
#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "cocotte/cocotte_decoder.h"
#include "cocotte_encoder.h"
#include "extract.h"
#include "fuzz_support.h"
#include "main.h"
#include "mariel.h"
#include "mariel_encoder.h"
#include "pak_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Variants 0 to 3: Mariel levels 1 to 4; 4 to 7: the Cocotte options
// below; 8: the archive of every method.
constexpr int kMarielLevels = 4;
constexpr int kCocotteOptions = 4;
constexpr int kVariants = kMarielLevels + kCocotteOptions + 1;

const std::vector<CocotteEncodeOptions>& CocotteOptions() {
  static const std::vector<CocotteEncodeOptions> options = {
      {kCocotteMaxBlockData, {}}, {300, {}}, {61, {}}, {300, {1}}};
  return options;
}

// Inputs are at most a few KiB (libFuzzer's length limit), so sizes fit
// the decoders' signed 32-bit arguments.
bool MarielGivesBack(std::span<const std::uint8_t> data, const Bytes& packed) {
  Bytes output(data.size());
  return UnpackMariel(output.data(), packed.data(), static_cast<std::int32_t>(data.size()),
                      static_cast<std::int32_t>(packed.size()), ProgressReporter{}) &&
         std::equal(output.begin(), output.end(), data.begin(), data.end());
}

bool CocotteGivesBack(std::span<const std::uint8_t> data, const Bytes& packed) {
  Bytes output(data.size());
  CocotteDecoder decoder;
  return decoder.Decode(output.data(), packed.data(), static_cast<std::int32_t>(data.size()),
                        static_cast<std::int32_t>(packed.size()), ProgressReporter{}) &&
         std::equal(output.begin(), output.end(), data.begin(), data.end());
}

void CheckArchive(std::span<const std::uint8_t> data, const Bytes& mariel, const Bytes& cocotte, int version) {
  const auto unpackedSize = static_cast<std::uint32_t>(data.size());
  Bytes complement(data.begin(), data.end());
  for (std::uint8_t& byte : complement) byte = static_cast<std::uint8_t>(~byte);
  const PakWriteEntry entries[] = {
      {.name = "NONE", .extension = "BIN", .method = MethodNone, .packed = Bytes(data.begin(), data.end()),
       .unpackedSize = unpackedSize},
      {.name = "MARIEL", .extension = "BIN", .method = MethodMariel, .packed = mariel, .unpackedSize = unpackedSize},
      {.name = "COCOTTE", .extension = "BIN", .method = MethodCocotte, .packed = cocotte,
       .unpackedSize = unpackedSize},
      {.name = "NOTCODE", .extension = "BIN", .method = MethodNotCode, .packed = complement,
       .unpackedSize = unpackedSize},
  };
  const Bytes archive = WritePak(version, entries);
  const std::optional<PakDirectory> directory = OpenDirectory(archive.data(), static_cast<std::uint32_t>(archive.size()));
  FUZZ_CHECK(directory && directory->header.entryCount == 4);
  for (std::int32_t i = 0; i < 4; ++i) {
    InputSource input;
    input.base = archive.data();
    input.size = static_cast<std::uint32_t>(archive.size());
    input.argument = static_cast<std::int32_t>(*EntryPosition(*directory, i));
    HLOCAL block = nullptr;
    FUZZ_CHECK(ExtractEntry(input, "round-trip.pak", &block, nullptr, 0) == Success);
    FUZZ_CHECK(LocalSize(block) == data.size());
    FUZZ_CHECK(data.empty() || std::memcmp(block, data.data(), data.size()) == 0);
    LocalFree(block);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size < 1 || size > (std::size_t{1} << 20)) return 0;
  const std::span<const std::uint8_t> data(bytes + 1, size - 1);
  const int variant = bytes[0] % kVariants;
  if (variant < kMarielLevels) {
    FUZZ_CHECK(MarielGivesBack(data, EncodeMariel(data, MarielEncodeOptions{variant + 1})));
  } else if (variant < kMarielLevels + kCocotteOptions) {
    const CocotteEncodeOptions& options = CocotteOptions()[static_cast<std::size_t>(variant - kMarielLevels)];
    FUZZ_CHECK(CocotteGivesBack(data, EncodeCocotte(data, options)));
  } else {
    CheckArchive(data, EncodeMariel(data), EncodeCocotte(data), size % 2 == 0 ? 2 : 3);
  }
  return 0;
}
