#include "extract.h"

#include <cstring>

#include "cocotte/cocotte_decoder.h"
#include "mariel.h"

namespace {

// Frees the output block on every way out of ExtractEntry but success.
class OutputBlock {
 public:
  explicit OutputBlock(HLOCAL* block) : block_(block) {}
  OutputBlock(const OutputBlock&) = delete;
  OutputBlock& operator=(const OutputBlock&) = delete;
  ~OutputBlock() {
    if (result != Success && *block_ != nullptr) {
      LocalFree(*block_);
      *block_ = nullptr;
    }
  }
  // Preset to a failure so that an exception frees the block.
  ResultCode result = BrokenData;

 private:
  HLOCAL* block_;
};

}  // namespace

void UnpackNotCode(std::uint8_t* output, const std::uint8_t* packed, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) output[i] = static_cast<std::uint8_t>(~packed[i]);
}

ResultCode DecodeEntry(const PakEntry& entry, std::uint8_t* output, const std::uint8_t* packed,
                       ProgressCallback callback, std::int32_t userData) {
  if (entry.method > MethodNotCode) return UnsupportedFormat;
  const bool sameSizes = entry.packedSize == entry.unpackedSize;
  if ((entry.method == MethodNone || entry.method == MethodNotCode) && !sameSizes) return UnsupportedFormat;
  if (packed == nullptr) return BrokenData;

  ProgressReporter reporter;
  reporter.callback = callback;
  reporter.userData = userData;
  // Sizes of 2^31 or more turn negative here, which both decoders refuse.
  const auto unpackedSize = static_cast<std::int32_t>(entry.unpackedSize);
  const auto packedSize = static_cast<std::int32_t>(entry.packedSize);
  switch (entry.method) {
    case MethodNone:
      if (entry.unpackedSize != 0) std::memcpy(output, packed, entry.unpackedSize);
      return Success;
    case MethodMariel:
      return UnpackMariel(output, packed, unpackedSize, packedSize, reporter) ? Success : BrokenData;
    case MethodCocotte: {
      CocotteDecoder decoder;
      return decoder.Decode(output, packed, unpackedSize, packedSize, reporter) ? Success : BrokenData;
    }
    default:
      UnpackNotCode(output, packed, entry.unpackedSize);
      return Success;
  }
}

ResultCode ExtractEntry(const InputSource& input, const char* archiveName, HLOCAL* block,
                        ProgressCallback callback, std::int32_t userData) {
  if (archiveName == nullptr) return NotImplemented;
  if (!IsPakHeader(input.base, input.size)) return UnsupportedFormat;

  // The record at the entry position, 40 or 48 bytes, must lie in the file.
  const std::size_t entryBytes = input.base[kVersionOffset] == 3 ? kEntryBytesV3 : kEntryBytesV2;
  const std::int64_t position = input.argument;
  if (position < 0 || position + static_cast<std::int64_t>(entryBytes) > static_cast<std::int64_t>(input.size)) {
    return BrokenData;
  }
  std::uint8_t record[kEntryBytesV3] = {};
  std::memcpy(record, input.base + position, entryBytes);
  const PakEntry entry = DecodeEntryRecord(record);

  // Packed data outside the file reach the dispatch as null.
  const std::int64_t dataStart = static_cast<std::int64_t>(kPakHeaderBytes) + entry.dataOffset;
  const bool dataInside = dataStart + static_cast<std::int64_t>(entry.packedSize) <= static_cast<std::int64_t>(input.size);
  const std::uint8_t* packed = dataInside ? input.base + dataStart : nullptr;

  OutputBlock output(block);
  *block = LocalAlloc(LPTR, entry.unpackedSize);
  if (*block == nullptr) return OutOfMemory;
  output.result = DecodeEntry(entry, static_cast<std::uint8_t*>(*block), packed, callback, userData);
  return output.result;
}
