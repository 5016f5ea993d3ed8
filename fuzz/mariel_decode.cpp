// UnpackMariel on arbitrary packed bytes and an announced output size,
// against the plain decoder UnpackMarielPlain.
//
//   input = unpackedSize (int32 little-endian; a non-negative value is
//           taken modulo kFuzzDecodeCap + 1), then the packed bytes
//
// Output and packed bytes are each bounded exactly (OutputArea, and a heap
// block of the packed size), so that AddressSanitizer catches any access
// outside them; a negative size gets an empty area, which must not be
// touched. Checks: both decoders give the same answer and the same
// reports, and the same output bytes when they succeed; reports are (done, packedSize) with done
// rising from 4 and within the packed size; a negative size fails; an empty
// stream decodes only to empty output.
#include <utility>
#include <vector>

#include "bytes.h"
#include "fuzz_support.h"
#include "mariel.h"

namespace {

using Reports = std::vector<std::pair<std::int32_t, std::int32_t>>;
Reports* reports = nullptr;  // where Progress records, for the decoder running

std::int32_t SPI_CALL Progress(std::int32_t done, std::int32_t total, std::int32_t userData) {
  FUZZ_CHECK(userData == 7);
  FUZZ_CHECK(done >= (reports->empty() ? 4 : reports->back().first + 4) && done <= total);
  reports->emplace_back(done, total);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || size - 4 > INT32_MAX) return 0;
  std::int32_t unpackedSize = ReadLeS32(data);
  if (unpackedSize >= 0) unpackedSize %= kFuzzDecodeCap + 1;
  const auto packedSize = static_cast<std::int32_t>(size - 4);
  const auto packed = ExactCopy(data + 4, size - 4);
  const std::int32_t outputBytes = unpackedSize < 0 ? 0 : unpackedSize;
  static OutputArea fastArea, plainArea;
  std::uint8_t* fastOutput = fastArea.Take(outputBytes);
  std::uint8_t* plainOutput = plainArea.Take(outputBytes);

  Reports fastReports, plainReports;
  reports = &fastReports;
  const bool fast = UnpackMariel(fastOutput, packed.get(), unpackedSize, packedSize, ProgressReporter{0, Progress, 7});
  reports = &plainReports;
  const bool plain =
      UnpackMarielPlain(plainOutput, packed.get(), unpackedSize, packedSize, ProgressReporter{0, Progress, 7});

  FUZZ_CHECK(fast == plain);
  FUZZ_CHECK(fastReports == plainReports);
  // A failed decoding leaves unspecified bytes behind its last item.
  FUZZ_CHECK(!plain || outputBytes == 0 ||
             std::memcmp(fastOutput, plainOutput, static_cast<std::size_t>(outputBytes)) == 0);
  for (const auto& report : fastReports) FUZZ_CHECK(report.second == packedSize);
  if (unpackedSize < 0) FUZZ_CHECK(!fast && fastReports.empty());
  if (packedSize == 0) FUZZ_CHECK(fast == (unpackedSize == 0) && fastReports.empty());
  return 0;
}
