// The Cocotte encoder, judged by the real decoder: round trips of many kinds
// of data and block sizes, the block layout it writes, the model restart
// after stored blocks, and how close its payloads come to the ideal code
// length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "cocotte/cocotte_decoder.h"
#include "cocotte_encoder.h"
#include "result.h"
#include "stream_writers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Repeat(const Bytes& unit, std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = unit[i % unit.size()];
  return bytes;
}

Bytes Repeat(const char* unit, std::size_t size) { return Repeat(Bytes(unit, unit + std::strlen(unit)), size); }

// Runs of random length (1 to 5,000) of random bytes.
Bytes LongRuns(std::uint64_t seed, std::size_t size) {
  std::uint64_t state = seed;
  Bytes bytes;
  while (bytes.size() < size) {
    bytes.resize(bytes.size() + 1 + static_cast<std::size_t>(RandomBelow(state, 5000)),
                 static_cast<std::uint8_t>(NextRandom(state)));
  }
  bytes.resize(size);
  return bytes;
}

// Every byte value, descending: each is as far back in the move-to-front
// table as it can be.
Bytes Descending(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(255 - i % 256);
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Decodes packed with a fresh decoder into a buffer of exactly the size of
// expected, as an extraction does.
::testing::AssertionResult DecodesTo(const Bytes& packed, const Bytes& expected) {
  Bytes input(packed);
  Bytes output(expected.size(), 0xEE);
  try {
    CocotteDecoder decoder;
    if (!decoder.Decode(output.data(), input.data(), static_cast<std::int32_t>(output.size()),
                        static_cast<std::int32_t>(input.size()), ProgressReporter{})) {
      return ::testing::AssertionFailure() << "Decode answered false";
    }
  } catch (const ESpiError& error) {
    return ::testing::AssertionFailure() << "Decode threw " << error.code;
  }
  if (output != expected) {
    std::size_t at = 0;
    while (output[at] == expected[at]) ++at;
    return ::testing::AssertionFailure() << "output differs from byte " << at;
  }
  return ::testing::AssertionSuccess();
}

enum class Kinds { Any, AllCoded, AllStored };

// The blocks of an entry of dataBytes in blocks of blockData: each block but
// the last yields blockData bytes, the blocks' sizes add up, and no payload
// is longer than its symbol sequence (a stored block's). Returns the blocks.
std::vector<CocotteBlockCost> CheckLayout(const Bytes& packed, std::size_t dataBytes, std::int32_t blockData) {
  const std::vector<CocotteBlockCost> blocks = CocotteBlockCosts(packed);
  std::size_t produced = 0;
  std::size_t consumed = 0;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const CocotteBlockCost& block = blocks[i];
    const bool last = i + 1 == blocks.size();
    EXPECT_TRUE(last ? block.outputSize >= 1 && block.outputSize <= blockData : block.outputSize == blockData)
        << "block " << i << " yields " << block.outputSize;
    EXPECT_LE(block.payloadBytes, block.outputSize + kPrimaryIndexBytes) << "block " << i;
    produced += static_cast<std::size_t>(block.outputSize);
    consumed += static_cast<std::size_t>(block.payloadBytes + kBlockHeaderBytes);
  }
  EXPECT_EQ(produced, dataBytes);
  EXPECT_EQ(consumed, packed.size());
  return blocks;
}

TEST(CocotteEncoder, RoundTrips) {
  struct Case {
    const char* what;
    Bytes data;
    std::int32_t blockData;
    Kinds kinds;
  };
  const Case cases[] = {
      {"empty", {}, kCocotteMaxBlockData, Kinds::Any},
      {"one byte", {0x42}, kCocotteMaxBlockData, Kinds::AllStored},
      {"two bytes", {0xFF, 0x00}, kCocotteMaxBlockData, Kinds::AllStored},
      {"100 bytes of 61", Bytes(100, 0x61), kCocotteMaxBlockData, Kinds::AllCoded},
      {"one byte value, largest block", Bytes(32770, 0x00), kCocotteMaxBlockData, Kinds::AllCoded},
      {"one byte value, one over", Bytes(32771, 0xFF), kCocotteMaxBlockData, Kinds::Any},
      {"one byte value, two blocks", Bytes(65540, 0x80), kCocotteMaxBlockData, Kinds::AllCoded},
      {"period 2, even", Repeat("ab", 32770), kCocotteMaxBlockData, Kinds::AllCoded},
      {"period 2, odd", Repeat("ab", 32769), kCocotteMaxBlockData, Kinds::AllCoded},
      {"period 3, odd size it divides", Repeat("xyz", 32769), kCocotteMaxBlockData, Kinds::AllCoded},
      {"period 3 over blocks it does not divide", Repeat("xyz", 65540), kCocotteMaxBlockData, Kinds::AllCoded},
      {"period 7, two periods a block", Repeat("\x01\x02\x03\x01\x02\x03\x04", 7000), 14, Kinds::Any},
      {"period 1000, 32 periods a block", Repeat(RandomBytes(1, 1000), 64000), 32000, Kinds::AllCoded},
      {"period 1000 over blocks it does not divide", Repeat(RandomBytes(1, 1000), 70000), kCocotteMaxBlockData,
       Kinds::AllCoded},
      {"text, 32,769", WordSoup(2, 32769), kCocotteMaxBlockData, Kinds::AllCoded},
      {"text, 32,770", WordSoup(3, 32770), kCocotteMaxBlockData, Kinds::AllCoded},
      {"text, 32,771", WordSoup(4, 32771), kCocotteMaxBlockData, Kinds::Any},
      {"text, 65,540", WordSoup(5, 65540), kCocotteMaxBlockData, Kinds::AllCoded},
      {"text, 3 MB", WordSoup(6, 3 << 20), kCocotteMaxBlockData, Kinds::AllCoded},
      {"binary-like, 1 MB", BinaryLike(7, 1 << 20), kCocotteMaxBlockData, Kinds::AllCoded},
      {"random", RandomBytes(8, 100000), kCocotteMaxBlockData, Kinds::AllStored},
      {"long runs", LongRuns(9, 200000), kCocotteMaxBlockData, Kinds::AllCoded},
      {"every value, descending", Descending(70000), kCocotteMaxBlockData, Kinds::AllCoded},
      {"text, blocks of 1", WordSoup(10, 300), 1, Kinds::AllStored},
      {"text, blocks of 2", WordSoup(11, 301), 2, Kinds::AllStored},
      {"text, blocks of 3", WordSoup(12, 302), 3, Kinds::AllStored},
      {"text, blocks of 1000", WordSoup(13, 54321), 1000, Kinds::AllCoded},
      {"runs, blocks of 5", LongRuns(14, 20000), 5, Kinds::Any},
      // Blocks of a few dozen bytes code to about as many bytes as they store
      // to; in these two some tie, and must be stored, or the decoder reads
      // their coded payloads as stored ones (it then throws).
      {"text, blocks of 24", WordSoup(17, 20000), 24, Kinds::Any},
      {"binary-like, blocks of 40", BinaryLike(18, 20000), 40, Kinds::Any},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CocotteEncodeOptions options;
    options.blockData = c.blockData;
    const Bytes packed = EncodeCocotte(c.data, options);
    EXPECT_TRUE(DecodesTo(packed, c.data));
    const std::vector<CocotteBlockCost> blocks = CheckLayout(packed, c.data.size(), c.blockData);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      if (c.kinds != Kinds::Any) {
        EXPECT_EQ(blocks[i].stored, c.kinds == Kinds::AllStored) << "block " << i;
      }
    }
  }
}

// Stored blocks forced anywhere in a coded entry: the decoder restarts its
// model after each, and the encoder must too, or the next coded block
// decodes wrongly. The move-to-front table goes on through them.
TEST(CocotteEncoder, ForcedStoredBlocksRestartTheModel) {
  const Bytes data = WordSoup(20, 5 * 32770 - 123);
  const std::vector<std::size_t> forced[] = {{0}, {1, 3}, {2, 3}, {4}, {0, 1, 2, 3, 4}, {7}};
  for (const std::vector<std::size_t>& stored : forced) {
    CocotteEncodeOptions options;
    options.forceStored = stored;
    const Bytes packed = EncodeCocotte(data, options);
    EXPECT_TRUE(DecodesTo(packed, data)) << ::testing::PrintToString(stored);
    const std::vector<CocotteBlockCost> blocks = CheckLayout(packed, data.size(), kCocotteMaxBlockData);
    ASSERT_EQ(blocks.size(), 5u);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const bool wanted = std::find(stored.begin(), stored.end(), i) != stored.end();
      EXPECT_EQ(blocks[i].stored, wanted) << ::testing::PrintToString(stored) << " block " << i;
    }
  }
  // With fewer data bytes per block, stored blocks between runs of coded ones.
  const Bytes runs = LongRuns(21, 50000);
  CocotteEncodeOptions options;
  options.blockData = 1000;
  options.forceStored = {0, 5, 6, 30, 49};
  EXPECT_TRUE(DecodesTo(EncodeCocotte(runs, options), runs));
}

// The one coded block of the decoder's tests (100 bytes of 61) and the
// encoder's own entry for those bytes: the same symbols, in no more bytes.
TEST(CocotteEncoder, HundredBytesOf61) {
  const Bytes reference = {0x17, 0x00, 0x64, 0x00, 0x00, 0x1B, 0x4C, 0xF1, 0xEC, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x19, 0x6C, 0x00, 0x00, 0x13};
  const Bytes data(100, 0x61);
  ASSERT_TRUE(DecodesTo(reference, data));
  const Bytes packed = EncodeCocotte(data);
  EXPECT_TRUE(DecodesTo(packed, data));
  EXPECT_LE(packed.size(), reference.size());

  // Primary index 0 (the first of the 100 equal rotations), then 61 and 99
  // repeats through the move-to-front table.
  auto symbolsOf = [](const Bytes& entry) {
    Bytes payload(entry.begin() + kBlockHeaderBytes, entry.end());
    Bytes symbols(102);
    CocotteDecoder decoder;
    EXPECT_TRUE(decoder.DecodeSymbols(symbols.data(), payload.data(), 102, static_cast<std::int32_t>(payload.size())));
    return symbols;
  };
  Bytes expected(102, 0x00);
  expected[2] = 0x61;
  EXPECT_EQ(symbolsOf(reference), expected);
  EXPECT_EQ(symbolsOf(packed), expected);
}

// A coded payload is what the decoder reads and no more. After k
// normalisation steps the decoder has read k + 2 bytes and taken in 7 + 8k
// code bits, and its range, at most 2^31, is 2^(7 + 8k) times the product
// of the symbols' shares of it. So a block's payload is at most
// 5 + (B + loss) / 8 bytes, where B is the ideal code length of its symbols
// and end symbol under the model, and loss what the truncated scale costs:
// less than log2(1 / (1 - 2^-11)) bits per symbol, as range > 2^23.
TEST(CocotteEncoder, PayloadsWithinTheFlushBoundOfTheIdealLength) {
  const Bytes inputs[] = {WordSoup(30, 300000), BinaryLike(31, 300000), LongRuns(32, 300000),
                          Concat(WordSoup(33, 5000), RandomBytes(34, 5000))};
  const double lossPerSymbol = -std::log2(1.0 - 1.0 / 2048);
  for (std::int32_t blockData : {kCocotteMaxBlockData, 1000, 50}) {
    for (const Bytes& data : inputs) {
      CocotteEncodeOptions options;
      options.blockData = blockData;
      const std::vector<CocotteBlockCost> blocks =
          CheckLayout(EncodeCocotte(data, options), data.size(), blockData);
      double worstSlack = 1e9;
      for (const CocotteBlockCost& block : blocks) {
        if (block.stored) continue;
        const double bound = 5 + (block.idealBits + (block.outputSize + 3) * lossPerSymbol) / 8;
        worstSlack = std::min(worstSlack, bound - block.payloadBytes);
      }
      EXPECT_GE(worstSlack, 0) << "block data " << blockData;
    }
  }
}

// The test-side writer sorts rotations by prefix doubling and keeps its code
// value as a big number with exact carries. On blocks without equal
// rotations (whose primary index is a matter of choice) both write the same
// bytes, from blocks sorted by comparison (small) and by divsufsort.
TEST(CocotteEncoder, SameBytesAsTheTestSideWriter) {
  const Bytes inputs[] = {WordSoup(40, 100000), RandomBytes(41, 40000), BinaryLike(42, 70000)};
  for (std::int32_t blockData : {kCocotteMaxBlockData, 200}) {
    for (const Bytes& data : inputs) {
      CocotteWriter writer;
      writer.Blocks(data, static_cast<std::size_t>(blockData));
      CocotteEncodeOptions options;
      options.blockData = blockData;
      EXPECT_TRUE(EncodeCocotte(data, options) == writer.Bytes()) << data.size() << " in blocks of " << blockData;
    }
  }
}

TEST(CocotteEncoder, BlockDataOutsideItsRangeIsRefused) {
  const Bytes data = WordSoup(50, 100);
  for (std::int32_t blockData : {0, -1, kCocotteMaxBlockData + 1}) {
    CocotteEncodeOptions options;
    options.blockData = blockData;
    EXPECT_THROW(EncodeCocotte(data, options), std::invalid_argument) << blockData;
  }
}

}  // namespace
