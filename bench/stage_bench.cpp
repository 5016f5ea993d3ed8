// Decoding speed per stage, fast path against the plain reference of each,
// in bytes of stage output per second: range decoding of coded blocks,
// move-to-front, the inverse transform, one whole Cocotte block, and Mariel
// decoding. Inputs come from the test-side writers (text-like and
// binary-like data in blocks of the largest size). Every benchmark checks
// its output against the plain path once before it times anything.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "cocotte/cocotte_decoder.h"
#include "mariel.h"
#include "result.h"
#include "stream_writers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// One coded block of the largest size, its payload, its symbols after range
// decoding (with a fresh model) and after move-to-front (with a fresh table).
struct CodedBlock {
  Bytes payload;
  std::int32_t symbolCount = 0;
  Bytes symbols;
  Bytes sequence;  // symbols after move-to-front: primary index, last column
  Bytes output;
};

CodedBlock MakeBlock(const Bytes& data) {
  CocotteWriter writer;
  writer.Block(data, CocotteWriter::Kind::Coded);
  CodedBlock block;
  const Bytes& packed = writer.Bytes();
  block.payload.assign(packed.begin() + kBlockHeaderBytes, packed.end());
  block.symbolCount = static_cast<std::int32_t>(data.size()) + kPrimaryIndexBytes;
  block.symbols.resize(static_cast<std::size_t>(block.symbolCount));
  CocotteDecoder decoder;
  decoder.DecodeSymbolsPlain(block.symbols.data(), block.payload.data(), block.symbolCount,
                             static_cast<std::int32_t>(block.payload.size()));
  block.sequence = block.symbols;
  std::uint8_t table[256];
  MtfReset(table);
  MtfDecodePlain(table, block.sequence.data(), block.symbolCount);
  block.output = data;
  return block;
}

const CodedBlock& TextBlock() {
  static const CodedBlock block = MakeBlock(WordSoup(5, 32770));
  return block;
}
const CodedBlock& BinaryBlock() {
  static const CodedBlock block = MakeBlock(BinaryLike(6, 32770));
  return block;
}

template <bool Plain>
void RangeDecoding(benchmark::State& state, const CodedBlock& block) {
  Bytes symbols(block.symbols.size());
  {
    CocotteDecoder decoder;
    const bool ok = Plain ? decoder.DecodeSymbolsPlain(symbols.data(), block.payload.data(), block.symbolCount,
                                                       static_cast<std::int32_t>(block.payload.size()))
                          : decoder.DecodeSymbols(symbols.data(), block.payload.data(), block.symbolCount,
                                                  static_cast<std::int32_t>(block.payload.size()));
    if (!ok || symbols != block.symbols) {
      state.SkipWithError("wrong symbols");
      return;
    }
  }
  for (auto _ : state) {
    state.PauseTiming();
    CocotteDecoder decoder;  // a fresh model, as in the check above
    state.ResumeTiming();
    benchmark::DoNotOptimize(Plain ? decoder.DecodeSymbolsPlain(symbols.data(), block.payload.data(), block.symbolCount,
                                                                static_cast<std::int32_t>(block.payload.size()))
                                   : decoder.DecodeSymbols(symbols.data(), block.payload.data(), block.symbolCount,
                                                           static_cast<std::int32_t>(block.payload.size())));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * block.symbolCount);
}

template <bool Plain>
void MoveToFront(benchmark::State& state, const CodedBlock& block) {
  Bytes buffer(block.symbols);
  std::uint8_t table[256];
  MtfReset(table);
  Plain ? MtfDecodePlain(table, buffer.data(), block.symbolCount) : MtfDecode(table, buffer.data(), block.symbolCount);
  if (buffer != block.sequence) {
    state.SkipWithError("wrong bytes");
    return;
  }
  for (auto _ : state) {
    std::memcpy(buffer.data(), block.symbols.data(), buffer.size());
    MtfReset(table);
    Plain ? MtfDecodePlain(table, buffer.data(), block.symbolCount) : MtfDecode(table, buffer.data(), block.symbolCount);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * block.symbolCount);
}

template <bool Plain>
void InverseTransform(benchmark::State& state, const CodedBlock& block) {
  Bytes output(block.output.size());
  Plain ? InverseBwtPlain(output.data(), block.sequence.data(), block.symbolCount)
        : InverseBwt(output.data(), block.sequence.data(), block.symbolCount);
  if (output != block.output) {
    state.SkipWithError("wrong output");
    return;
  }
  for (auto _ : state) {
    Plain ? InverseBwtPlain(output.data(), block.sequence.data(), block.symbolCount)
          : InverseBwt(output.data(), block.sequence.data(), block.symbolCount);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(output.size()));
}

// One entry of one coded block through all three stages, with a decoder per
// entry.
template <bool Plain>
void WholeBlock(benchmark::State& state, const CodedBlock& block) {
  Bytes packed(kBlockHeaderBytes);
  WriteLe16(&packed[0], static_cast<std::uint16_t>(block.payload.size() + kBlockHeaderBytes));
  WriteLe16(&packed[2], static_cast<std::uint16_t>(block.output.size()));
  packed.insert(packed.end(), block.payload.begin(), block.payload.end());
  Bytes output(block.output.size());
  const auto unpackedSize = static_cast<std::int32_t>(output.size());
  const auto packedSize = static_cast<std::int32_t>(packed.size());
  auto decode = [&] {
    CocotteDecoder decoder;
    return Plain ? decoder.DecodePlain(output.data(), packed.data(), unpackedSize, packedSize, ProgressReporter{})
                 : decoder.Decode(output.data(), packed.data(), unpackedSize, packedSize, ProgressReporter{});
  };
  if (!decode() || output != block.output) {
    state.SkipWithError("wrong output");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(decode());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * unpackedSize);
}

// Mariel over 256 KiB of greedy-parsed binary-like data (many literals and
// short copies) and of text-like copies.
MarielWriter GreedyMariel(const Bytes& data) {
  return GreedyMarielStream(data, [] { return true; });
}

template <bool Plain>
void Mariel(benchmark::State& state, const MarielWriter& writer) {
  const Bytes& packed = writer.Bytes();
  const Bytes& expected = writer.Output();
  Bytes output(expected.size(), 0);
  const auto unpackedSize = static_cast<std::int32_t>(expected.size());
  const auto packedSize = static_cast<std::int32_t>(packed.size());
  auto decode = [&] {
    return Plain ? UnpackMarielPlain(output.data(), packed.data(), unpackedSize, packedSize, ProgressReporter{})
                 : UnpackMariel(output.data(), packed.data(), unpackedSize, packedSize, ProgressReporter{});
  };
  if (!decode() || output != expected) {
    state.SkipWithError("wrong output");
    return;
  }
  // The output is not cleared between runs: these streams have no distance 0.
  for (auto _ : state) benchmark::DoNotOptimize(decode());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * unpackedSize);
}

const MarielWriter& BinaryMariel() {
  static const MarielWriter writer = GreedyMariel(BinaryLike(7, 256 << 10));
  return writer;
}
const MarielWriter& TextMariel() {
  static const MarielWriter writer = GreedyMariel(WordSoup(8, 256 << 10));
  return writer;
}

void BM_RangeDecodeText(benchmark::State& state) { RangeDecoding<false>(state, TextBlock()); }
void BM_RangeDecodeTextPlain(benchmark::State& state) { RangeDecoding<true>(state, TextBlock()); }
void BM_RangeDecodeBinary(benchmark::State& state) { RangeDecoding<false>(state, BinaryBlock()); }
void BM_RangeDecodeBinaryPlain(benchmark::State& state) { RangeDecoding<true>(state, BinaryBlock()); }
void BM_MtfText(benchmark::State& state) { MoveToFront<false>(state, TextBlock()); }
void BM_MtfTextPlain(benchmark::State& state) { MoveToFront<true>(state, TextBlock()); }
void BM_MtfBinary(benchmark::State& state) { MoveToFront<false>(state, BinaryBlock()); }
void BM_MtfBinaryPlain(benchmark::State& state) { MoveToFront<true>(state, BinaryBlock()); }
void BM_InverseBwtText(benchmark::State& state) { InverseTransform<false>(state, TextBlock()); }
void BM_InverseBwtTextPlain(benchmark::State& state) { InverseTransform<true>(state, TextBlock()); }
void BM_CocotteBlockText(benchmark::State& state) { WholeBlock<false>(state, TextBlock()); }
void BM_CocotteBlockTextPlain(benchmark::State& state) { WholeBlock<true>(state, TextBlock()); }
void BM_CocotteBlockBinary(benchmark::State& state) { WholeBlock<false>(state, BinaryBlock()); }
void BM_CocotteBlockBinaryPlain(benchmark::State& state) { WholeBlock<true>(state, BinaryBlock()); }
void BM_MarielBinary(benchmark::State& state) { Mariel<false>(state, BinaryMariel()); }
void BM_MarielBinaryPlain(benchmark::State& state) { Mariel<true>(state, BinaryMariel()); }
void BM_MarielText(benchmark::State& state) { Mariel<false>(state, TextMariel()); }
void BM_MarielTextPlain(benchmark::State& state) { Mariel<true>(state, TextMariel()); }

BENCHMARK(BM_RangeDecodeText);
BENCHMARK(BM_RangeDecodeTextPlain);
BENCHMARK(BM_RangeDecodeBinary);
BENCHMARK(BM_RangeDecodeBinaryPlain);
BENCHMARK(BM_MtfText);
BENCHMARK(BM_MtfTextPlain);
BENCHMARK(BM_MtfBinary);
BENCHMARK(BM_MtfBinaryPlain);
BENCHMARK(BM_InverseBwtText);
BENCHMARK(BM_InverseBwtTextPlain);
BENCHMARK(BM_CocotteBlockText);
BENCHMARK(BM_CocotteBlockTextPlain);
BENCHMARK(BM_CocotteBlockBinary);
BENCHMARK(BM_CocotteBlockBinaryPlain);
BENCHMARK(BM_MarielBinary);
BENCHMARK(BM_MarielBinaryPlain);
BENCHMARK(BM_MarielText);
BENCHMARK(BM_MarielTextPlain);

}  // namespace

BENCHMARK_MAIN();
