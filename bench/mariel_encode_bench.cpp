// Encoding speed of the Mariel encoder per level, in bytes of input per
// second, with the packed size as a counter. Every benchmark decodes its
// stream once and checks it before it times anything.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "mariel.h"
#include "mariel_encoder.h"
#include "stream_writers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kInputBytes = 4 << 20;

const Bytes& Text() {
  static const Bytes bytes = WordSoup(21, kInputBytes);
  return bytes;
}
const Bytes& Binary() {
  static const Bytes bytes = BinaryLike(22, kInputBytes);
  return bytes;
}
const Bytes& Random() {
  static const Bytes bytes = RandomBytes(23, kInputBytes);
  return bytes;
}

bool RoundTrips(const Bytes& data, const MarielEncodeOptions& options, Bytes* packedOut) {
  const Bytes packed = EncodeMariel(data, options);
  Bytes output(data.size(), 0);
  *packedOut = packed;
  return UnpackMariel(output.data(), packed.data(), static_cast<std::int32_t>(data.size()),
                      static_cast<std::int32_t>(packed.size()), ProgressReporter{}) &&
         output == data;
}

// Encodes data entries times per iteration; state.range(0) is the level.
void RunEncode(benchmark::State& state, const Bytes& data, int entries = 1) {
  const MarielEncodeOptions options{static_cast<int>(state.range(0))};
  Bytes packed;
  if (!RoundTrips(data, options, &packed)) {
    state.SkipWithError("wrong round trip");
    return;
  }
  for (auto _ : state) {
    for (int i = 0; i < entries; ++i) benchmark::DoNotOptimize(EncodeMariel(data, options));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * entries *
                          static_cast<std::int64_t>(data.size()));
  state.counters["packed"] = static_cast<double>(packed.size());
  state.counters["ratio"] = static_cast<double>(packed.size()) / static_cast<double>(data.size());
}

void BM_EncodeText(benchmark::State& state) { RunEncode(state, Text()); }
void BM_EncodeBinary(benchmark::State& state) { RunEncode(state, Binary()); }
void BM_EncodeRandom(benchmark::State& state) { RunEncode(state, Random()); }
// A 2 KiB entry, 1000 times over: the fixed cost of an encoding.
void BM_EncodeSmallEntries(benchmark::State& state) {
  static const Bytes data = WordSoup(24, 2048);
  RunEncode(state, data, 1000);
}

BENCHMARK(BM_EncodeText)->DenseRange(1, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBinary)->DenseRange(1, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeRandom)->DenseRange(1, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeSmallEntries)->DenseRange(1, 4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
