// The extraction path of GetFile: ExtractEntry over an archive image in
// memory, straight on the fuzz bytes, for the directory records the header
// points at (up to 8; at least one, wherever the header points), with a
// progress callback that asks to stop at a call chosen by the input.
//
//   input = abortAt (1 byte: 0 never, else the call, counted from 1, that
//           answers nonzero), then the archive image
//
// Checks: only the codes extraction may give; after a failure no block in
// the variable (null, or untouched when the failure came before the
// allocation); after success a block of the entry's unpacked size, holding the
// packed bytes themselves for "None" and their complement for "NotCode";
// the callback told (done, total) with done rising and within total;
// stopping exactly when asked; no block left behind.
#include <cstring>

#include "bytes.h"
#include "export_guard.h"
#include "extract.h"
#include "fuzz_support.h"
#include "main.h"

namespace {

constexpr std::int64_t kMostRecords = 8;

struct CallbackState {
  int calls = 0;
  int abortAt = 0;
  std::int32_t lastDone = 0;
  std::int32_t lastTotal = -1;
};
CallbackState callbackState;
constexpr std::int32_t kUserData = 0x5EED;

std::int32_t SPI_CALL Progress(std::int32_t done, std::int32_t total, std::int32_t userData) {
  FUZZ_CHECK(userData == kUserData);
  FUZZ_CHECK(0 <= done && done <= total);
  if (callbackState.calls > 0) FUZZ_CHECK(total == callbackState.lastTotal && done >= callbackState.lastDone);
  callbackState.lastDone = done;
  callbackState.lastTotal = total;
  return ++callbackState.calls == callbackState.abortAt ? 1 : 0;
}

void ExtractAt(const InputSource& input, std::int64_t position, int abortAt) {
  if (position < INT32_MIN || position > INT32_MAX) return;
  InputSource at = input;
  at.argument = static_cast<std::int32_t>(position);
  callbackState = CallbackState{};
  callbackState.abortAt = abortAt;

  HLOCAL const untouched = &at;
  HLOCAL block = untouched;
  const std::int32_t result = GuardExport(InternalError, [&]() -> std::int32_t {
    return ExtractEntry(at, "fuzz.pak", &block, Progress, kUserData);
  });
  FUZZ_CHECK(result == Success || result == Aborted || result == UnsupportedFormat || result == BrokenData ||
             result == OutOfMemory);
  FUZZ_CHECK(callbackState.calls <= abortAt || abortAt == 0);
  if (abortAt != 0) FUZZ_CHECK((result == Aborted) == (callbackState.calls == abortAt));
  if (result != Success) {
    // Failures before the allocation leave the variable alone; later ones
    // free the block and null it.
    FUZZ_CHECK(block == untouched || block == nullptr);
    return;
  }

  // Success: the record lies inside the image, and so do the packed data.
  const std::size_t recordBytes = input.base[kVersionOffset] == 3 ? kEntryBytesV3 : kEntryBytesV2;
  std::uint8_t record[kEntryBytesV3] = {};
  std::memcpy(record, input.base + position, recordBytes);
  const PakEntry entry = DecodeEntryRecord(record);
  FUZZ_CHECK(block != nullptr && LocalSize(block) == entry.unpackedSize);
  const auto* output = static_cast<const std::uint8_t*>(block);
  const std::uint8_t* packed = input.base + kPakHeaderBytes + entry.dataOffset;
  if (entry.method == MethodNone) {
    FUZZ_CHECK(entry.unpackedSize == 0 || std::memcmp(output, packed, entry.unpackedSize) == 0);
  } else if (entry.method == MethodNotCode) {
    for (std::uint32_t i = 0; i < entry.unpackedSize; ++i) FUZZ_CHECK(output[i] == static_cast<std::uint8_t>(~packed[i]));
  }
  LocalFree(block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LimitOutputBlocks();
  if (size < 1 || size - 1 > UINT32_MAX) return 0;
  const int abortAt = data[0];
  InputSource input;
  input.base = data + 1;
  input.size = static_cast<std::uint32_t>(size - 1);
  const long blocksBefore = PakLiveLocalBlocks();

  if (input.size < kPakHeaderBytes) {
    ExtractAt(input, static_cast<std::int64_t>(kPakHeaderBytes), abortAt);
  } else {
    // Where the header says the directory is, whether or not it fits.
    const std::int64_t recordBytes = input.base[kVersionOffset] == 3 ? kEntryBytesV3 : kEntryBytesV2;
    const std::int64_t first = static_cast<std::int64_t>(kPakHeaderBytes) + ReadLeS32(input.base + kDirectoryOffsetOffset);
    const std::int64_t count = ReadLeS32(input.base + kEntryCountOffset);
    const std::int64_t records = count < 1 ? 1 : count > kMostRecords ? kMostRecords : count;
    for (std::int64_t i = 0; i < records; ++i) ExtractAt(input, first + i * recordBytes, abortAt);
  }

  FUZZ_CHECK(PakLiveLocalBlocks() == blocksBefore);
  return 0;
}
