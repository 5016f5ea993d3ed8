// The fast Cocotte stages against the plain ones: DecodeSymbols (registers in
// locals, a direct value-to-symbol table, symbol 0 found without division)
// against DecodeSymbolsPlain, MtfDecode (the first 16 table bytes in
// registers) against MtfDecodePlain, InverseBwt (two steps per table entry)
// against InverseBwtPlain, and Decode (move-to-front inside the range
// decoding loop) against DecodePlain: the same answer, the same exception
// code, the same reports, the same bytes written and the same decoder state
// afterwards (the move-to-front table after complete entries), on
// well-formed, truncated, mutated and random input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cocotte/cocotte_decoder.h"
#include "cocotte/frequency_model.h"
#include "progress_recorder.h"
#include "result.h"
#include "stream_writers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// "what 12" without string concatenation (which GCC 12 misreads as an
// overlapping copy under -Werror=restrict).
template <class A, class B = int>
std::string Label(const char* format, A a, B b = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, static_cast<long long>(a), static_cast<long long>(b));
  return text;
}

constexpr std::int32_t kNoThrow = -1;

void ExpectSameModel(const FrequencyModel& a, const FrequencyModel& b, const std::string& what) {
  EXPECT_EQ(a.left, b.left) << what;
  EXPECT_EQ(a.nextLeft, b.nextLeft) << what;
  EXPECT_EQ(a.rescale, b.rescale) << what;
  EXPECT_EQ(a.increment, b.increment) << what;
  const std::size_t entries = static_cast<std::size_t>(a.symbols) + 1;
  EXPECT_EQ(0, std::memcmp(a.cumFreq, b.cumFreq, entries * sizeof(std::uint16_t))) << what;
  EXPECT_EQ(0, std::memcmp(a.newFreq, b.newFreq, entries * sizeof(std::uint16_t))) << what;
  EXPECT_EQ(0, std::memcmp(a.searchTable, b.searchTable, kSearchTableEntries * sizeof(std::uint16_t))) << what;
}

// compareMtf false: after a failed entry, whose last block Decode may have
// taken through the move-to-front step while decoding its symbols.
void ExpectSameDecoder(const CocotteDecoder& a, const CocotteDecoder& b, const std::string& what,
                       bool compareMtf = true) {
  EXPECT_EQ(a.inCount, b.inCount) << what;
  EXPECT_EQ(a.outCount, b.outCount) << what;
  EXPECT_EQ(a.inSize, b.inSize) << what;
  EXPECT_EQ(a.outLimit, b.outLimit) << what;
  EXPECT_EQ(a.low, b.low) << what;
  EXPECT_EQ(a.range, b.range) << what;
  EXPECT_EQ(a.scale, b.scale) << what;
  EXPECT_EQ(a.lastByte, b.lastByte) << what;
  if (compareMtf) {
    EXPECT_EQ(0, std::memcmp(a.mtfTable, b.mtfTable, sizeof a.mtfTable)) << what;
  }
  ExpectSameModel(a.model, b.model, what);
}

// ---------------------------------------------------------------------------
// Range decoding

struct SymbolsRun {
  bool ok = false;
  std::int32_t code = kNoThrow;
  Bytes symbols;
};

// Decodes each payload in turn with one decoder (so that the model carries
// over, as in an entry), into a buffer of exactly symbolLimit bytes.
using SymbolsFunction = bool (CocotteDecoder::*)(std::uint8_t*, const std::uint8_t*, std::int32_t, std::int32_t);

SymbolsRun RunSymbols(CocotteDecoder& decoder, SymbolsFunction function, const Bytes& payload, std::int32_t symbolLimit) {
  SymbolsRun run;
  const Bytes input(payload);
  run.symbols.assign(static_cast<std::size_t>(symbolLimit), 0xEE);
  try {
    run.ok = (decoder.*function)(run.symbols.data(), input.empty() ? nullptr : input.data(), symbolLimit,
                                 static_cast<std::int32_t>(input.size()));
  } catch (const ESpiError& error) {
    run.code = error.code;
  }
  return run;
}

// Both decoders over the same sequence of payloads; after each, the same
// result, symbols and state. Stops at the first throw.
void ExpectSameSymbols(const std::vector<std::pair<Bytes, std::int32_t>>& payloads, const std::string& what) {
  CocotteDecoder plain;
  CocotteDecoder fast;
  for (std::size_t i = 0; i < payloads.size(); ++i) {
    std::string where = what;
    where += Label(" payload %lld", i);
    const SymbolsRun a = RunSymbols(plain, &CocotteDecoder::DecodeSymbolsPlain, payloads[i].first, payloads[i].second);
    const SymbolsRun b = RunSymbols(fast, &CocotteDecoder::DecodeSymbols, payloads[i].first, payloads[i].second);
    ASSERT_EQ(b.ok, a.ok) << where;
    ASSERT_EQ(b.code, a.code) << where;
    ASSERT_TRUE(b.symbols == a.symbols) << where;
    ExpectSameDecoder(plain, fast, where);
    if (a.code != kNoThrow) return;
  }
}

// Coded payloads of a writer-built entry: the blocks' payloads after their
// headers, with their symbol counts.
std::vector<std::pair<Bytes, std::int32_t>> CodedPayloads(const CocotteWriter& writer) {
  std::vector<std::pair<Bytes, std::int32_t>> payloads;
  const Bytes& packed = writer.Bytes();
  for (std::size_t at = 0; at + kBlockHeaderBytes <= packed.size();) {
    const std::int32_t blockSize = ReadLe16(&packed[at]);
    const std::int32_t outputSize = ReadLe16(&packed[at + 2]);
    const auto begin = packed.begin() + static_cast<std::ptrdiff_t>(at + kBlockHeaderBytes);
    payloads.emplace_back(Bytes(begin, begin + (blockSize - kBlockHeaderBytes)), outputSize + kPrimaryIndexBytes);
    at += static_cast<std::size_t>(blockSize);
  }
  return payloads;
}

TEST(CocotteFastPath, RangeDecodingMatchesThePlainDecoder) {
  using Kind = CocotteWriter::Kind;
  // Long coded blocks in a row: the model goes through every rescale and
  // the steady interval of 2000 updates.
  {
    CocotteWriter writer;
    writer.Block(WordSoup(1, 30000), Kind::Coded).Block(BinaryLike(2, 30000), Kind::Coded).Block(RandomBytes(3, 5000), Kind::Coded);
    ExpectSameSymbols(CodedPayloads(writer), "writer");
    // Each payload one symbol short, one symbol long, and cut.
    for (const auto& [payload, symbols] : CodedPayloads(writer)) {
      ExpectSameSymbols({{payload, symbols - 1}}, "short");
      ExpectSameSymbols({{payload, symbols + 1}}, "long");
      for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{5},
                              payload.size() / 2, payload.size() - 1}) {
        ExpectSameSymbols({{Bytes(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(cut)), symbols}},
                          Label("cut %lld", cut));
      }
    }
  }
  // Random and mutated payloads: clamped quotients, early end symbols,
  // symbols beyond the limit, payloads that run out.
  std::uint64_t state = 99;
  for (int round = 0; round < 1500; ++round) {
    ExpectSameSymbols({{RandomBytes(NextRandom(state), static_cast<std::size_t>(RandomBelow(state, 300))),
                        RandomBelow(state, 600)},
                       {RandomBytes(NextRandom(state), static_cast<std::size_t>(RandomBelow(state, 300))),
                        RandomBelow(state, 600)}},
                      Label("random %lld", round));
  }
  CocotteWriter writer;
  writer.Block(WordSoup(4, 3000), Kind::Coded);
  const auto payloads = CodedPayloads(writer);
  for (int round = 0; round < 500; ++round) {
    Bytes payload = payloads[0].first;
    payload[static_cast<std::size_t>(RandomBelow(state, static_cast<std::int32_t>(payload.size())))] ^=
        static_cast<std::uint8_t>(1 + RandomBelow(state, 255));
    ExpectSameSymbols({{payload, payloads[0].second}}, Label("mutated %lld", round));
  }
}

// ---------------------------------------------------------------------------
// Move-to-front

TEST(CocotteFastPath, MoveToFrontMatchesThePlainDecoder) {
  std::uint64_t state = 5;
  // Position mixes: all small (each side of 8 and 16), all large, mixed.
  const std::int32_t bounds[] = {1, 2, 8, 9, 16, 17, 32, 256};
  std::uint8_t plainTable[256];
  std::uint8_t fastTable[256];
  MtfReset(plainTable);
  MtfReset(fastTable);
  for (int round = 0; round < 400; ++round) {
    const std::int32_t bound = bounds[round % std::size(bounds)];
    Bytes plain(static_cast<std::size_t>(RandomBelow(state, 3000)));
    for (std::uint8_t& byte : plain) {
      byte = static_cast<std::uint8_t>(RandomBelow(state, 4) == 0 ? RandomBelow(state, 256) : RandomBelow(state, bound));
    }
    Bytes fast(plain);
    // The tables carry over from round to round, as from block to block.
    MtfDecodePlain(plainTable, plain.data(), static_cast<std::int32_t>(plain.size()));
    MtfDecode(fastTable, fast.data(), static_cast<std::int32_t>(fast.size()));
    ASSERT_TRUE(fast == plain) << round;
    ASSERT_EQ(0, std::memcmp(fastTable, plainTable, 256)) << round;
  }
  // Every position from every table state reached by one step of each.
  for (int position = 0; position < 256; ++position) {
    std::uint8_t a[256];
    std::uint8_t b[256];
    for (int k = 0; k < 256; ++k) a[k] = b[k] = static_cast<std::uint8_t>(255 - k);
    std::uint8_t symbolA = static_cast<std::uint8_t>(position);
    std::uint8_t symbolB = symbolA;
    MtfDecodePlain(a, &symbolA, 1);
    MtfDecode(b, &symbolB, 1);
    ASSERT_EQ(symbolA, symbolB) << position;
    ASSERT_EQ(0, std::memcmp(a, b, 256)) << position;
  }
}

// ---------------------------------------------------------------------------
// Inverse transform

// Runs one inverse transform into an output of exactly count - 2 bytes
// (filled with 0xEE first); the thrown code, if any.
std::int32_t RunBwt(void (*function)(std::uint8_t*, const std::uint8_t*, std::int32_t), const Bytes& sequence,
                    Bytes& output) {
  output.assign(sequence.size() - kPrimaryIndexBytes, 0xEE);
  try {
    function(output.data(), sequence.data(), static_cast<std::int32_t>(sequence.size()));
  } catch (const ESpiError& error) {
    return error.code;
  }
  return kNoThrow;
}

TEST(CocotteFastPath, InverseTransformMatchesThePlainDecoder) {
  std::uint64_t state = 11;
  // Up to the largest block: 32,770 bytes.
  const std::size_t sizes[] = {0, 1, 2, 3, 4, 5, 7, 100, 1000, 32769, 32770};
  for (std::size_t size : sizes) {
    for (int kind = 0; kind < 4; ++kind) {
      Bytes data = kind == 0   ? RandomBytes(NextRandom(state), size)
                   : kind == 1 ? WordSoup(NextRandom(state), size)
                   : kind == 2 ? Bytes(size, 0x61)
                               : BinaryLike(NextRandom(state), size);
      // Any last column and every kind of primary index: in range, the
      // last one, and out of range (which throws before writing).
      for (std::int32_t index : {0, static_cast<std::int32_t>(size / 2), static_cast<std::int32_t>(size) - 1,
                                 static_cast<std::int32_t>(size), 65535}) {
        if (index < 0) continue;
        Bytes sequence(kPrimaryIndexBytes);
        WriteLe16(sequence.data(), static_cast<std::uint16_t>(index));
        sequence.insert(sequence.end(), data.begin(), data.end());
        Bytes plain;
        Bytes fast;
        const std::int32_t plainCode = RunBwt(InverseBwtPlain, sequence, plain);
        const std::int32_t fastCode = RunBwt(InverseBwt, sequence, fast);
        ASSERT_EQ(fastCode, plainCode) << size << " " << kind << " " << index;
        ASSERT_TRUE(fast == plain) << size << " " << kind << " " << index;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Whole entries

struct EntryRun {
  bool ok = false;
  std::int32_t code = kNoThrow;
  Reports reports;
  Bytes output;
};

using DecodeFunction = bool (CocotteDecoder::*)(std::uint8_t*, const std::uint8_t*, std::int32_t, std::int32_t,
                                                ProgressReporter);

EntryRun RunEntry(DecodeFunction function, const Bytes& packed, std::int32_t unpackedSize, int abortAtCall,
                  CocotteDecoder& decoder) {
  EntryRun run;
  const Bytes input(packed);
  run.output.assign(static_cast<std::size_t>(std::max(unpackedSize, 0)), 0);
  try {
    run.ok = (decoder.*function)(run.output.data(), input.empty() ? nullptr : input.data(), unpackedSize,
                                 static_cast<std::int32_t>(input.size()), Reporter(abortAtCall));
  } catch (const ESpiError& error) {
    run.code = error.code;
  }
  run.reports = recorder.reports;
  return run;
}

// Decode and DecodePlain on one entry; returns whether it decoded.
bool ExpectSameEntry(const Bytes& packed, std::int32_t unpackedSize, const std::string& what, int abortAtCall = 0) {
  CocotteDecoder plainDecoder;
  CocotteDecoder fastDecoder;
  const EntryRun plain = RunEntry(&CocotteDecoder::DecodePlain, packed, unpackedSize, abortAtCall, plainDecoder);
  const EntryRun fast = RunEntry(&CocotteDecoder::Decode, packed, unpackedSize, abortAtCall, fastDecoder);
  EXPECT_EQ(fast.ok, plain.ok) << what;
  EXPECT_EQ(fast.code, plain.code) << what;
  EXPECT_EQ(fast.reports, plain.reports) << what;
  EXPECT_TRUE(fast.output == plain.output) << what;
  ExpectSameDecoder(plainDecoder, fastDecoder, what, plain.ok);
  return fast.ok;
}

TEST(CocotteFastPath, EntriesMatchThePlainDecoder) {
  using Kind = CocotteWriter::Kind;
  CocotteWriter writer;
  writer.Block(WordSoup(21, 32770), Kind::Coded)
      .Block(BinaryLike(22, 20000), Kind::Auto)
      .Block(RandomBytes(23, 3000), Kind::Stored)
      .Block(WordSoup(24, 0), Kind::Stored)
      .Block(BinaryLike(25, 12000), Kind::Coded)
      .Block(Bytes(5000, 0x00), Kind::Coded);
  const Bytes& packed = writer.Bytes();
  const std::int32_t unpackedSize = static_cast<std::int32_t>(writer.Output().size());
  ASSERT_TRUE(ExpectSameEntry(packed, unpackedSize, "whole"));
  ExpectSameEntry(packed, unpackedSize - 1, "one byte short");
  ExpectSameEntry(packed, unpackedSize + 1, "one byte long");
  for (int abortAtCall = 1; abortAtCall <= 6; ++abortAtCall) {
    ExpectSameEntry(packed, unpackedSize, Label("abort %lld", abortAtCall), abortAtCall);
  }
  std::uint64_t state = 31;
  for (int round = 0; round < 60; ++round) {
    const std::size_t cut = static_cast<std::size_t>(RandomBelow(state, static_cast<std::int32_t>(packed.size())));
    ExpectSameEntry(Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut)), unpackedSize,
                    Label("cut %lld", cut));
    Bytes mutated(packed);
    for (int flips = 1 + RandomBelow(state, 3); flips > 0; --flips) {
      mutated[static_cast<std::size_t>(RandomBelow(state, static_cast<std::int32_t>(mutated.size())))] ^=
          static_cast<std::uint8_t>(1 + RandomBelow(state, 255));
    }
    ExpectSameEntry(mutated, unpackedSize, Label("mutated %lld", round));
  }
  // Random blocks whose headers fit their payloads.
  for (int round = 0; round < 1500; ++round) {
    Bytes entry;
    std::int32_t size = 0;
    for (int blocks = 1 + RandomBelow(state, 3); blocks > 0; --blocks) {
      const std::int32_t payloadLength = RandomBelow(state, 80);
      const std::int32_t outputSize = RandomBelow(state, 120);
      Bytes block(kBlockHeaderBytes);
      WriteLe16(&block[0], static_cast<std::uint16_t>(payloadLength + kBlockHeaderBytes));
      WriteLe16(&block[2], static_cast<std::uint16_t>(outputSize));
      const Bytes payload = RandomBytes(NextRandom(state), static_cast<std::size_t>(payloadLength));
      entry.insert(entry.end(), block.begin(), block.end());
      entry.insert(entry.end(), payload.begin(), payload.end());
      size += outputSize;
    }
    ExpectSameEntry(entry, size + RandomBelow(state, 2), Label("random %lld", round));
  }
}

}  // namespace
