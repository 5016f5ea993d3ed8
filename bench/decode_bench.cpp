// Decoding speed of the two archive decoders, in bytes of output per second.
// Every benchmark decodes its stream once and checks the output before it
// times anything.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "cocotte/cocotte_decoder.h"
#include "cocotte_encoder.h"
#include "mariel.h"
#include "result.h"
#include "stream_writers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kStreamBytes = 4 << 20;

// Literal runs and copies of text-like lengths and distances, with a few
// long runs: 4 MiB of output.
MarielWriter TextLikeMariel() {
  std::uint64_t state = 42;
  const Bytes alphabet = WordSoup(1, 4096);
  MarielWriter writer;
  while (writer.Output().size() < kStreamBytes) {
    const std::int32_t produced = static_cast<std::int32_t>(writer.Output().size());
    const std::int32_t kind = RandomBelow(state, 100);
    if (produced < 16 || kind < 35) {
      for (std::int32_t i = 1 + RandomBelow(state, 8); i > 0; --i) {
        writer.Literal(alphabet[static_cast<std::size_t>(RandomBelow(state, 4096))]);
      }
    } else if (kind < 95) {
      const std::int32_t length = 3 + RandomBelow(state, 1 + RandomBelow(state, 40));
      writer.Copy(1 + RandomBelow(state, std::min(produced, 1535)), length);
    } else {
      writer.Copy(1 + RandomBelow(state, 4), 64 + RandomBelow(state, 960));
    }
  }
  return writer;
}

MarielWriter LiteralMariel() {
  MarielWriter writer;
  for (std::uint8_t byte : RandomBytes(2, kStreamBytes)) writer.Literal(byte);
  return writer;
}

MarielWriter LongCopyMariel() {
  MarielWriter writer;
  writer.Literal('x');
  std::uint64_t state = 3;
  while (writer.Output().size() < kStreamBytes) {
    writer.Copy(1 + RandomBelow(state, 1535 < writer.Output().size() ? 1535 : 1), 60000);
  }
  return writer;
}

void RunMariel(benchmark::State& state, const MarielWriter& writer, int entries = 1) {
  const Bytes& packed = writer.Bytes();
  const Bytes& expected = writer.Output();
  Bytes output(expected.size());
  const auto unpackedSize = static_cast<std::int32_t>(expected.size());
  const auto packedSize = static_cast<std::int32_t>(packed.size());
  if (!UnpackMariel(output.data(), packed.data(), unpackedSize, packedSize, ProgressReporter{}) ||
      output != expected) {
    state.SkipWithError("wrong output");
    return;
  }
  // The output is not cleared between runs: no stream here has distance 0.
  for (auto _ : state) {
    for (int i = 0; i < entries; ++i) {
      benchmark::DoNotOptimize(
          UnpackMariel(output.data(), packed.data(), unpackedSize, packedSize, ProgressReporter{}));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * entries * unpackedSize);
}

void BM_MarielTextLike(benchmark::State& state) {
  static const MarielWriter writer = TextLikeMariel();
  RunMariel(state, writer);
}
void BM_MarielLiterals(benchmark::State& state) {
  static const MarielWriter writer = LiteralMariel();
  RunMariel(state, writer);
}
void BM_MarielLongCopies(benchmark::State& state) {
  static const MarielWriter writer = LongCopyMariel();
  RunMariel(state, writer);
}
// The nine-byte entry (three literals, one overlapping copy), 1000 times.
void BM_MarielTinyEntries(benchmark::State& state) {
  MarielWriter writer;
  writer.Literal('a');
  writer.Literal('b');
  writer.Literal('c');
  writer.Copy(3, 6);
  RunMariel(state, writer, 1000);
}

// One decoder per entry, as the extraction does.
void RunCocotte(benchmark::State& state, const Bytes& packed, const Bytes& expected, int entries = 1) {
  Bytes output(expected.size());
  const auto unpackedSize = static_cast<std::int32_t>(expected.size());
  const auto packedSize = static_cast<std::int32_t>(packed.size());
  bool ok = false;
  try {
    CocotteDecoder decoder;
    ok = decoder.Decode(output.data(), packed.data(), unpackedSize, packedSize, ProgressReporter{});
  } catch (const ESpiError&) {
  }
  if (!ok || output != expected) {
    state.SkipWithError("wrong output");
    return;
  }
  for (auto _ : state) {
    for (int i = 0; i < entries; ++i) {
      CocotteDecoder decoder;
      benchmark::DoNotOptimize(decoder.Decode(output.data(), packed.data(), unpackedSize, packedSize, ProgressReporter{}));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * entries * unpackedSize);
}

struct CocotteStream {
  Bytes packed;
  Bytes output;
};

enum class Blocks { EncoderChoice, AllStored };

// The encoder's entry for data, in blocks of the largest size.
CocotteStream EncodeStream(Bytes data, Blocks blocks) {
  CocotteEncodeOptions options;
  if (blocks == Blocks::AllStored) {
    const std::size_t blockCount = (data.size() + kCocotteMaxBlockData - 1) / kCocotteMaxBlockData;
    for (std::size_t i = 0; i < blockCount; ++i) options.forceStored.push_back(i);
  }
  Bytes packed = EncodeCocotte(data, options);
  return {std::move(packed), std::move(data)};
}

// Bytes of a smooth signal with a little noise: mid entropy, as images and
// sound are.
Bytes Smooth(std::size_t size) {
  std::uint64_t state = 4;
  Bytes bytes(size);
  std::int32_t level = 128;
  for (std::uint8_t& byte : bytes) {
    level = (level + RandomBelow(state, 7) - 3) & 0xFF;
    byte = static_cast<std::uint8_t>(level);
  }
  return bytes;
}

void BM_CocotteCodedText(benchmark::State& state) {
  static const CocotteStream stream = EncodeStream(WordSoup(5, kStreamBytes), Blocks::EncoderChoice);
  RunCocotte(state, stream.packed, stream.output);
}
void BM_CocotteCodedSmooth(benchmark::State& state) {
  static const CocotteStream stream = EncodeStream(Smooth(kStreamBytes), Blocks::EncoderChoice);
  RunCocotte(state, stream.packed, stream.output);
}
// Move-to-front and the inverse transform alone.
void BM_CocotteStoredRandom(benchmark::State& state) {
  static const CocotteStream stream = EncodeStream(RandomBytes(6, kStreamBytes), Blocks::AllStored);
  RunCocotte(state, stream.packed, stream.output);
}
// The 23-byte entry of one coded block (100 bytes of 61), 1000 times: the
// cost of a decoder per entry.
void BM_CocotteTinyEntries(benchmark::State& state) {
  const Bytes packed = {0x17, 0x00, 0x64, 0x00, 0x00, 0x1B, 0x4C, 0xF1, 0xEC, 0x00, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x19, 0x6C, 0x00, 0x00, 0x13};
  RunCocotte(state, packed, Bytes(100, 0x61), 1000);
}

BENCHMARK(BM_MarielTextLike);
BENCHMARK(BM_MarielLiterals);
BENCHMARK(BM_MarielLongCopies);
BENCHMARK(BM_MarielTinyEntries);
BENCHMARK(BM_CocotteCodedText);
BENCHMARK(BM_CocotteCodedSmooth);
BENCHMARK(BM_CocotteStoredRandom);
BENCHMARK(BM_CocotteTinyEntries);

}  // namespace

BENCHMARK_MAIN();
