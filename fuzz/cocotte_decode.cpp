// CocotteDecoder::Decode on arbitrary packed bytes and an announced output
// size, against the plain stages (DecodePlain of a second decoder).
//
//   input = unpackedSize (int32 little-endian; a non-negative value is
//           taken modulo kFuzzDecodeCap + 1), then the packed bytes
//
// Output and packed bytes are each bounded exactly (OutputArea, and a heap
// block of the packed size), so that AddressSanitizer catches any access
// outside them; a negative size gets an empty area, which must not be
// touched. Checks: a decoder answers true or false or throws
// ESpiError(BrokenData), nothing else; both give the same answer or
// exception, the same reports and the same output bytes (what blocks before
// a failure wrote included); reports are (done, packedSize) with done
// rising from 0 and below the packed size; an empty stream decodes only to
// empty output and reports nothing.
#include <utility>
#include <vector>

#include "bytes.h"
#include "cocotte/cocotte_decoder.h"
#include "fuzz_support.h"
#include "result.h"

namespace {

using Reports = std::vector<std::pair<std::int32_t, std::int32_t>>;
Reports* reports = nullptr;  // where Progress records, for the decoder running

std::int32_t SPI_CALL Progress(std::int32_t done, std::int32_t total, std::int32_t userData) {
  FUZZ_CHECK(userData == 9);
  FUZZ_CHECK(reports->empty() ? done == 0 : done > reports->back().first);
  FUZZ_CHECK(done < total);
  reports->emplace_back(done, total);
  return 0;
}

// 1 decoded, 0 answered false, -BrokenData threw.
template <class Run>
int Outcome(Run run) {
  try {
    return run() ? 1 : 0;
  } catch (const ESpiError& error) {
    FUZZ_CHECK(error.code == BrokenData);
    return -BrokenData;
  }
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
  const int fast = Outcome([&] {
    CocotteDecoder decoder;
    return decoder.Decode(fastOutput, packed.get(), unpackedSize, packedSize, ProgressReporter{0, Progress, 9});
  });
  reports = &plainReports;
  const int plain = Outcome([&] {
    CocotteDecoder decoder;
    return decoder.DecodePlain(plainOutput, packed.get(), unpackedSize, packedSize, ProgressReporter{0, Progress, 9});
  });

  FUZZ_CHECK(fast == plain);
  FUZZ_CHECK(fastReports == plainReports);
  FUZZ_CHECK(outputBytes == 0 || std::memcmp(fastOutput, plainOutput, static_cast<std::size_t>(outputBytes)) == 0);
  for (const auto& report : fastReports) FUZZ_CHECK(report.second == packedSize);
  if (unpackedSize < 0) FUZZ_CHECK(fast != 1);
  if (packedSize == 0) FUZZ_CHECK(fast == (unpackedSize == 0 ? 1 : 0) && fastReports.empty());
  return 0;
}
