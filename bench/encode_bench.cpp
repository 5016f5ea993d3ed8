// Encoding speed of the Cocotte encoder, in bytes of input per second. Every
// benchmark decodes its stream once and checks it before it times anything,
// and reports as counters:
//   ratio        packed bytes per input byte;
//   overhead_pct how much longer the coded payloads are than an exact coder
//                would make them under the same adaptive model, in percent;
//   flush_bytes  the same excess per coded block, in bytes;
//   stored       blocks stored rather than coded.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "cocotte/cocotte_decoder.h"
#include "cocotte_encoder.h"
#include "result.h"
#include "stream_writers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kInputBytes = 4 << 20;

bool RoundTrips(const Bytes& data, const Bytes& packed) {
  Bytes output(data.size(), 0);
  try {
    CocotteDecoder decoder;
    return decoder.Decode(output.data(), packed.data(), static_cast<std::int32_t>(data.size()),
                          static_cast<std::int32_t>(packed.size()), ProgressReporter{}) &&
           output == data;
  } catch (const ESpiError&) {
    return false;
  }
}

// Encodes each entry once per iteration; the entries' streams are checked
// and measured first.
void RunEncode(benchmark::State& state, const std::vector<Bytes>& entries) {
  std::int64_t inputBytes = 0;
  std::int64_t packedBytes = 0;
  double idealBytes = 0;
  std::int64_t codedBytes = 0;
  std::int64_t codedBlocks = 0;
  std::int64_t storedBlocks = 0;
  for (const Bytes& data : entries) {
    const Bytes packed = EncodeCocotte(data);
    if (!RoundTrips(data, packed)) {
      state.SkipWithError("wrong round trip");
      return;
    }
    inputBytes += static_cast<std::int64_t>(data.size());
    packedBytes += static_cast<std::int64_t>(packed.size());
    for (const CocotteBlockCost& block : CocotteBlockCosts(packed)) {
      if (block.stored) {
        ++storedBlocks;
      } else {
        ++codedBlocks;
        codedBytes += block.payloadBytes;
        idealBytes += block.idealBits / 8;
      }
    }
  }

  for (auto _ : state) {
    for (const Bytes& data : entries) benchmark::DoNotOptimize(EncodeCocotte(data));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * inputBytes);
  state.counters["ratio"] = static_cast<double>(packedBytes) / static_cast<double>(inputBytes);
  if (codedBlocks > 0) {
    const double excess = static_cast<double>(codedBytes) - idealBytes;
    state.counters["overhead_pct"] = 100 * excess / idealBytes;
    state.counters["flush_bytes"] = excess / static_cast<double>(codedBlocks);
  }
  state.counters["stored"] = static_cast<double>(storedBlocks);
}

void BM_EncodeText(benchmark::State& state) {
  static const std::vector<Bytes> entries = {WordSoup(61, kInputBytes)};
  RunEncode(state, entries);
}
void BM_EncodeBinary(benchmark::State& state) {
  static const std::vector<Bytes> entries = {BinaryLike(62, kInputBytes)};
  RunEncode(state, entries);
}
// Every block is tried, found no shorter coded, and stored.
void BM_EncodeRandom(benchmark::State& state) {
  static const std::vector<Bytes> entries = {RandomBytes(63, kInputBytes)};
  RunEncode(state, entries);
}
// 1,000 entries of 2,000 bytes: the cost of an entry and of a short block.
void BM_EncodeSmallEntries(benchmark::State& state) {
  static const std::vector<Bytes> entries = [] {
    std::vector<Bytes> small;
    for (std::uint64_t seed = 0; seed < 1000; ++seed) small.push_back(WordSoup(seed, 2000));
    return small;
  }();
  RunEncode(state, entries);
}

BENCHMARK(BM_EncodeText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeRandom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeSmallEntries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
