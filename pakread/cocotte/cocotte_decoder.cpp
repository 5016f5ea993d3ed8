#include "cocotte_decoder.h"

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstring>

#include "bytes.h"
#include "result.h"

namespace {

constexpr std::uint32_t kNormalizeBound = 0x800000;  // take a byte while range <= 2^23
constexpr std::uint32_t kStartRange = 0x80;
constexpr std::uint32_t kFrequencyShift = kCocotteLgTotal;
constexpr std::uint32_t kFrequencyTotal = 1u << kCocotteLgTotal;

[[noreturn]] void ThrowBrokenData() { throw ESpiError(BrokenData); }

}  // namespace

CocotteDecoder::CocotteDecoder() {
  InitModel(&model, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies);
}

CocotteDecoder::~CocotteDecoder() { FreeModel(&model); }

std::uint8_t CocotteDecoder::ReadByte() {
  if (inCount >= inSize) ThrowBrokenData();
  ++inCount;
  return *inPtr++;
}

void CocotteDecoder::StartDecoding() {
  ReadByte();
  lastByte = ReadByte();
  low = lastByte >> 1;
  range = kStartRange;
}

void CocotteDecoder::Normalize() {
  // Each step shifts in 8 code bits: the low bit of the previous byte and the
  // upper 7 of the next. The step count is bounded by the payload, since
  // every step reads a byte.
  while (range <= kNormalizeBound) {
    low = (low << 8) | ((static_cast<std::uint32_t>(lastByte) << 7) & 0xFF);
    lastByte = ReadByte();
    low |= static_cast<std::uint32_t>(lastByte) >> 1;
    range <<= 8;
  }
}

std::uint32_t CocotteDecoder::DecodeFreq(std::uint32_t shift) {
  Normalize();
  scale = range >> shift;  // at least 2^11 after Normalize: no division by zero
  const std::uint32_t quotient = low / scale;
  return (quotient >> shift) == 0 ? quotient : (1u << shift) - 1;
}

void CocotteDecoder::DecodeUpdate(std::uint32_t freq, std::uint32_t cumLow, std::uint32_t total) {
  const std::uint32_t below = scale * cumLow;
  low -= below;
  if (cumLow + freq < total) {
    range = scale * freq;
  } else {
    range -= below;
  }
}

bool CocotteDecoder::DecodeSymbolsPlain(std::uint8_t* out, const std::uint8_t* in, std::int32_t symbolLimit,
                                        std::int32_t payloadSize) {
  outCount = 0;
  inCount = 0;
  inPtr = in;
  outPtr = out;
  inSize = payloadSize;
  outLimit = symbolLimit;
  StartDecoding();

  std::int32_t freq = 0;
  std::int32_t cumLow = 0;
  // The test is on the input, not on the symbol count: a stream whose bytes
  // are all read before its end symbol ends here, and the end symbol's
  // interval is applied below without decoding it.
  while (inCount < inSize) {
    const std::uint32_t value = DecodeFreq(kFrequencyShift);
    const std::int32_t symbol = FindSymbol(&model, static_cast<std::int32_t>(value));
    if (symbol == kCocotteEndSymbol) break;
    if (outCount >= outLimit) ThrowBrokenData();
    ++outCount;
    *outPtr++ = static_cast<std::uint8_t>(symbol);
    GetFrequency(&model, symbol, &freq, &cumLow);
    DecodeUpdate(static_cast<std::uint32_t>(freq), static_cast<std::uint32_t>(cumLow), kFrequencyTotal);
    UpdateModel(&model, symbol);
  }

  // Applied exactly once per block, however the loop ended, and followed by
  // one normalisation.
  GetFrequency(&model, kCocotteEndSymbol, &freq, &cumLow);
  DecodeUpdate(static_cast<std::uint32_t>(freq), static_cast<std::uint32_t>(cumLow), kFrequencyTotal);
  Normalize();
  return outCount == outLimit;
}

namespace {

// One move-to-front step with the first 16 table bytes in two registers
// (front: bytes 0..7, back: 8..15, lowest address in the lowest byte) and
// table[16, 256) in memory: returns the value at position and moves it to
// the front. Small positions, the most common after the transform, cost a
// few shifts and masks, with no store and load of the table in the chain
// from one step to the next; a position of 16 or more moves the bytes from
// table[15] on with one memmove.
inline std::uint8_t MtfStep(unsigned position, std::uint64_t& front, std::uint64_t& back, std::uint8_t* table) {
  std::uint8_t value;
  if (position < 8) {
    value = static_cast<std::uint8_t>(front >> (8 * position));
    // The bytes below the position move up one place; those above stay.
    const std::uint64_t moved = position == 7 ? ~0ull : (1ull << (8 * (position + 1))) - 1;
    front = (((front << 8) | value) & moved) | (front & ~moved);
  } else if (position < 16) {
    value = static_cast<std::uint8_t>(back >> (8 * (position - 8)));
    const std::uint64_t moved = position == 15 ? ~0ull : (1ull << (8 * (position - 7))) - 1;
    back = (((back << 8) | (front >> 56)) & moved) | (back & ~moved);
    front = (front << 8) | value;
  } else {
    value = table[position];
    table[15] = static_cast<std::uint8_t>(back >> 56);
    std::memmove(table + 16, table + 15, position - 15);
    back = (back << 8) | (front >> 56);
    front = (front << 8) | value;
  }
  return value;
}

// symbolOf[v] = FindSymbol(model, v) for every value v of the total: one
// load instead of the search table and a binary search (3 to 8 dependent
// loads and branches per symbol). Rebuilt from cumFreq whenever a full
// rescale changes it (every 2000 symbols in steady state, 4096 stores).
// REQUIRES: cumFreq strictly increasing from 0 to kFrequencyTotal, as from
// the first full rescale on.
void BuildSymbolLookup(const FrequencyModel& model, std::uint16_t* symbolOf) {
  const std::uint16_t* cumFreq = model.cumFreq;
  for (std::int32_t symbol = 0; symbol < model.symbols; ++symbol) {
    for (std::int32_t value = cumFreq[symbol]; value < cumFreq[symbol + 1]; ++value) {
      symbolOf[value] = static_cast<std::uint16_t>(symbol);
    }
  }
}

// The search table from symbolOf: entry j is the smallest symbol whose
// interval meets the slice from j << searchShift on, which (the intervals
// ascend and none is empty) is the symbol of the slice's first value. The
// same entries BuildSearchTable writes, in 128 loads: with it, a full
// rescale of the fast path costs 3.2 rather than 10.3 thousand instructions
// besides the symbolOf rebuild (callgrind).
void SearchTableFromLookup(FrequencyModel& model, const std::uint16_t* symbolOf) {
  for (std::int32_t j = 0; j < kSearchTableEntries - 1; ++j) {
    model.searchTable[j] = symbolOf[j << model.searchShift];
  }
}

}  // namespace

bool CocotteDecoder::DecodeSymbols(std::uint8_t* out, const std::uint8_t* in, std::int32_t symbolLimit,
                                   std::int32_t payloadSize) {
  return DecodeSymbolsFast<false>(out, in, symbolLimit, payloadSize);
}

template <bool MoveToFront>
bool CocotteDecoder::DecodeSymbolsFast(std::uint8_t* out, const std::uint8_t* in, std::int32_t symbolLimit,
                                       std::int32_t payloadSize, InverseWalk* walk) {
  outCount = 0;
  inCount = 0;
  inPtr = in;
  outPtr = out;
  inSize = payloadSize;
  outLimit = symbolLimit;
  StartDecoding();

  assert(model.symbols == kCocotteSymbols && model.searchShift == kCocotteLgTotal - 7);
  std::uint16_t symbolOf[kFrequencyTotal];
  BuildSymbolLookup(model, symbolOf);

  // The registers and counters live in locals for the loop (the symbol
  // stores through a byte pointer would otherwise make the compiler reload
  // every member after each one) and go back to the members before any
  // throw and after the loop, so that the members end as DecodeSymbolsPlain
  // leaves them. With the lookup table and the division skipped for symbol
  // 0: 61 -> 92 MB/s of symbols on a text block, 39 -> 73 on a binary one
  // (bench/stage_bench, BM_RangeDecode*).
  std::uint32_t lowNow = low;
  std::uint32_t rangeNow = range;
  std::uint32_t scaleNow = scale;
  std::uint32_t lastNow = lastByte;
  const std::uint8_t* inNow = inPtr;
  std::uint8_t* outNow = outPtr;
  std::int32_t inLeft = inSize - inCount;
  std::int32_t outLeft = outLimit - outCount;
  const std::uint16_t* const cumFreq = model.cumFreq;  // not moved by a rescale
  std::uint16_t* const newFreq = model.newFreq;
  std::int32_t left = model.left;
  std::int32_t increment = model.increment;
  std::uint64_t front = 0;
  std::uint64_t back = 0;
  if constexpr (MoveToFront) {
    std::memcpy(&front, mtfTable, 8);
    std::memcpy(&back, mtfTable + 8, 8);
  }
  // The walk of the previous block's inverse transform, in locals too.
  const std::uint32_t* walkPair = nullptr;
  std::uint32_t walkIndex = 0;
  std::uint8_t* walkOut = nullptr;
  std::int32_t walkPairs = 0;
  if (walk != nullptr) {
    walkPair = walk->pair;
    walkIndex = walk->index;
    walkOut = walk->out;
    walkPairs = walk->pairsLeft;
  }
  auto store = [&] {
    if constexpr (MoveToFront) {
      std::memcpy(mtfTable, &front, 8);
      std::memcpy(mtfTable + 8, &back, 8);
    }
    if (walk != nullptr) {
      walk->index = walkIndex;
      walk->out = walkOut;
      walk->pairsLeft = walkPairs;
    }
    low = lowNow;
    range = rangeNow;
    scale = scaleNow;
    lastByte = static_cast<std::uint8_t>(lastNow);
    inPtr = inNow;
    inCount = inSize - inLeft;
    outPtr = outNow;
    outCount = outLimit - outLeft;
    model.left = left;
    model.increment = increment;
  };

  // Takes the next symbol's place in the block; a symbol beyond symbolLimit
  // throws, with nothing stored.
  auto claimOutput = [&] {
    if (outLeft == 0) {
      store();
      ThrowBrokenData();
    }
    --outLeft;
  };

  while (inLeft > 0) {
    if (walkPairs > 0) {
      const std::uint32_t entry = walkPair[walkIndex];
      walkOut[0] = static_cast<std::uint8_t>(entry);
      walkOut[1] = static_cast<std::uint8_t>(entry >> 8);
      walkOut += 2;
      walkIndex = entry >> 16;
      --walkPairs;
    }
    while (rangeNow <= kNormalizeBound) {
      lowNow = (lowNow << 8) | ((lastNow << 7) & 0xFF);
      if (inLeft == 0) {  // where ReadByte throws, low already shifted
        store();
        ThrowBrokenData();
      }
      lastNow = *inNow++;
      --inLeft;
      lowNow |= lastNow >> 1;
      rangeNow <<= 8;
    }
    scaleNow = rangeNow >> kFrequencyShift;  // at least 2^11: no division by zero
    // For a whole number c, c <= low / scale exactly when c * scale <= low,
    // so symbol 0 (the most frequent after move-to-front, about half of all
    // symbols) is known from one multiplication. The 32-bit division it
    // saves was 28 % of the decoding time (perf, coded corpus). The product
    // cannot wrap: cumFreq[1] < 4096 and scale < 2^20.
    const std::uint32_t zeroTop = scaleNow * cumFreq[1];
    std::uint32_t symbol;
    if (lowNow < zeroTop) {
      // Symbol 0 in full: its interval starts at 0, so low stays, and
      // cumFreq[1] < the total, so the range becomes zeroTop; move-to-front
      // of position 0 outputs the front byte and leaves the table as it is.
      symbol = 0;
      claimOutput();
      if constexpr (MoveToFront) {
        *outNow++ = static_cast<std::uint8_t>(front);
      } else {
        *outNow++ = 0;
      }
      rangeNow = zeroTop;
    } else {
      std::uint32_t value = lowNow / scaleNow;
      if ((value >> kFrequencyShift) != 0) value = kFrequencyTotal - 1;
      symbol = symbolOf[value];
      if (symbol == kCocotteEndSymbol) break;
      claimOutput();
      if constexpr (MoveToFront) {
        // The move-to-front chain does not wait on the range decoder's, so
        // the processor overlaps the two.
        *outNow++ = MtfStep(symbol, front, back, mtfTable);
      } else {
        *outNow++ = static_cast<std::uint8_t>(symbol);
      }
      const std::uint32_t cumLow = cumFreq[symbol];
      const std::uint32_t freq = cumFreq[symbol + 1] - cumLow;
      const std::uint32_t below = scaleNow * cumLow;
      lowNow -= below;
      rangeNow = cumLow + freq < kFrequencyTotal ? scaleNow * freq : rangeNow - below;
    }

    if (left <= 0) {
      model.left = left;
      model.increment = increment;
      if (RescaleModelCounts(&model)) {
        BuildSymbolLookup(model, symbolOf);
        SearchTableFromLookup(model, symbolOf);
      }
      left = model.left;
      increment = model.increment;
    }
    --left;
    newFreq[symbol] = static_cast<std::uint16_t>(newFreq[symbol] + increment);
  }
  store();

  std::int32_t freq = 0;
  std::int32_t cumLow = 0;
  GetFrequency(&model, kCocotteEndSymbol, &freq, &cumLow);
  DecodeUpdate(static_cast<std::uint32_t>(freq), static_cast<std::uint32_t>(cumLow), kFrequencyTotal);
  Normalize();
  return outCount == outLimit;
}

namespace {

// Finishes a pending walk on every way out of the block loop, so that every
// block decoded before a failure is in the output, as with the plain stages.
class WalkFinisher {
 public:
  explicit WalkFinisher(InverseWalk* walk) : walk_(walk) {}
  WalkFinisher(const WalkFinisher&) = delete;
  WalkFinisher& operator=(const WalkFinisher&) = delete;
  ~WalkFinisher() {
    if (walk_ != nullptr) walk_->Finish();
  }

 private:
  InverseWalk* walk_;
};

}  // namespace

template <bool Plain>
bool CocotteDecoder::DecodeBlocks(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                                  std::int32_t packedSize, ProgressReporter reporter) {
  // The fused pass (symbols, move-to-front and the previous block's walk)
  // takes the table as two little-endian words.
  constexpr bool kFused = !Plain && std::endian::native == std::endian::little;
  MtfReset(mtfTable);
  std::int32_t consumed = 0;
  std::int32_t produced = 0;
  // Two block buffers in turn: a block's last column is read until its walk
  // ends, while the next block is decoded into the other one.
  std::uint8_t blocks[Plain ? 1 : 2][kBlockBufferBytes];
  int current = 0;
  InverseWalk walk;
  WalkFinisher finisher(Plain ? nullptr : &walk);

  // Invariants: 0 <= consumed <= packedSize and 0 <= produced <= unpackedSize
  // (a negative unpackedSize fails the first block), so the differences
  // below neither wrap nor go negative.
  while (consumed < packedSize) {
    Report(reporter, consumed, packedSize);
    const std::int32_t available = packedSize - consumed;
    if (available < kBlockHeaderBytes) return false;
    const std::uint8_t* header = packed + consumed;
    const std::int32_t blockSize = ReadLe16(header + kBlockSizeOffset);
    const std::int32_t outputSize = ReadLe16(header + kBlockOutputSizeOffset);
    const std::int32_t symbolCount = outputSize + kPrimaryIndexBytes;
    // Negative when blockSize is below 4: such a block counts as coded and
    // fails at its first byte.
    const std::int32_t payloadLength = blockSize - kBlockHeaderBytes;
    if (payloadLength > available - kBlockHeaderBytes) return false;
    if (outputSize > unpackedSize - produced) return false;
    if (symbolCount > kBlockBufferBytes) throw ESpiError(BrokenData);
    const std::uint8_t* payload = header + kBlockHeaderBytes;
    std::uint8_t* const block = blocks[current];

    if (payloadLength == symbolCount) {
      std::memcpy(block, payload, static_cast<std::size_t>(symbolCount));
      // After the copy: the restart affects only the blocks that follow.
      FreeModel(&model);
      InitModel(&model, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies);
      if (Plain) {
        MtfDecodePlain(mtfTable, block, symbolCount);
      } else {
        MtfDecode(mtfTable, block, symbolCount);
      }
    } else if (Plain) {
      if (!DecodeSymbolsPlain(block, payload, symbolCount, payloadLength)) break;
      MtfDecodePlain(mtfTable, block, symbolCount);
    } else if (!DecodeSymbolsFast<kFused>(block, payload, symbolCount, payloadLength, kFused ? &walk : nullptr)) {
      break;
    } else if (!kFused) {
      MtfDecode(mtfTable, block, symbolCount);
    }
    if (Plain) {
      InverseBwtPlain(output + produced, block, symbolCount);
    } else {
      walk.Finish();  // the previous block's, if any is left
      PrepareInverseBwt(walk, output + produced, block, symbolCount);
      current ^= 1;
    }
    consumed += blockSize;
    produced += outputSize;
  }
  return consumed == packedSize && produced == unpackedSize;
}

bool CocotteDecoder::Decode(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                            std::int32_t packedSize, ProgressReporter reporter) {
  return DecodeBlocks<false>(output, packed, unpackedSize, packedSize, reporter);
}

bool CocotteDecoder::DecodePlain(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                                 std::int32_t packedSize, ProgressReporter reporter) {
  return DecodeBlocks<true>(output, packed, unpackedSize, packedSize, reporter);
}

void MtfReset(std::uint8_t* table) {
  for (int k = 0; k < 256; ++k) table[k] = static_cast<std::uint8_t>(k);
}

void MtfDecodePlain(std::uint8_t* table, std::uint8_t* buffer, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    const unsigned position = buffer[i];
    const std::uint8_t value = table[position];
    // One block move rather than a byte loop: 7 times faster on stored
    // blocks of random bytes, where positions average 128 (bench/).
    std::memmove(table + 1, table, position);
    table[0] = value;
    buffer[i] = value;
  }
}

void InverseBwtPlain(std::uint8_t* output, const std::uint8_t* buffer, std::int32_t count) {
  assert(count >= kPrimaryIndexBytes && count - kPrimaryIndexBytes <= kMaxTransformBytes);
  const std::int32_t dataBytes = count - kPrimaryIndexBytes;
  if (dataBytes == 0) return;
  std::int32_t index = ReadLe16(buffer);
  if (index >= dataBytes) throw ESpiError(BrokenData);
  const std::uint8_t* lastColumn = buffer + kPrimaryIndexBytes;

  std::int32_t tally[256] = {};
  for (std::int32_t i = 0; i < dataBytes; ++i) ++tally[lastColumn[i]];
  for (int c = 1; c < 256; ++c) tally[c] += tally[c - 1];
  // cursor[c] starts one past the end of c's bucket in next.
  std::int32_t cursor[256];
  for (int c = 0; c < 256; ++c) cursor[c] = tally[c];
  // next lists, bucket by bucket in ascending byte order, the positions in
  // the last column of each byte value in ascending order: every one of
  // next[0, dataBytes) is written, and each holds a position below dataBytes.
  std::int32_t next[kMaxTransformBytes];
  for (std::int32_t i = dataBytes - 1; i >= 0; --i) next[--cursor[lastColumn[i]]] = i;

  for (std::int32_t k = 0; k < dataBytes; ++k) {
    index = next[index];
    output[k] = lastColumn[index];
  }
}

void MtfDecode(std::uint8_t* table, std::uint8_t* buffer, std::int32_t count) {
  if constexpr (std::endian::native != std::endian::little) {
    MtfDecodePlain(table, buffer, count);
    return;
  }
  // MtfStep with the registers loaded once per block. Against the table
  // kept in memory: 141 -> 201 MB/s on a text block; the same on a binary
  // one, where most of the time goes to the memmoves (bench/stage_bench,
  // BM_Mtf*).
  std::uint64_t front;
  std::uint64_t back;
  std::memcpy(&front, table, 8);
  std::memcpy(&back, table + 8, 8);
  for (std::int32_t i = 0; i < count; ++i) buffer[i] = MtfStep(buffer[i], front, back, table);
  std::memcpy(table, &front, 8);
  std::memcpy(table + 8, &back, 8);
}

void PrepareInverseBwt(InverseWalk& walk, std::uint8_t* output, const std::uint8_t* buffer, std::int32_t count) {
  assert(walk.pairsLeft == 0 && !walk.oddByte);
  assert(count >= kPrimaryIndexBytes && count <= kBlockBufferBytes);
  const std::int32_t dataBytes = count - kPrimaryIndexBytes;
  if (dataBytes == 0) return;
  std::uint32_t index = ReadLe16(buffer);
  if (index >= static_cast<std::uint32_t>(dataBytes)) throw ESpiError(BrokenData);
  const std::uint8_t* lastColumn = buffer + kPrimaryIndexBytes;

  // The last column in four quarters, each with its own tallies and then
  // its own cursors, worked side by side: the last column holds long runs of
  // one byte value, and with a single counter per value each increment in a
  // run would wait for the store of the one before.
  const std::int32_t quarter = dataBytes / 4;
  const std::int32_t tail = 3 * quarter;  // the last quarter, with the remainder
  std::uint32_t cursor[4][256] = {};
  for (std::int32_t i = 0; i < quarter; ++i) {
    ++cursor[0][lastColumn[i]];
    ++cursor[1][lastColumn[quarter + i]];
    ++cursor[2][lastColumn[2 * quarter + i]];
    ++cursor[3][lastColumn[tail + i]];
  }
  for (std::int32_t i = tail + quarter; i < dataBytes; ++i) ++cursor[3][lastColumn[i]];
  // The tallies become cursors: cursor[q][c] is the first slot of c's bucket
  // that quarter q fills, after the slots of the quarters before it.
  std::uint32_t sum = 0;
  for (int c = 0; c < 256; ++c) {
    for (int q = 0; q < 4; ++q) {
      const std::uint32_t count = cursor[q][c];
      cursor[q][c] = sum;
      sum += count;
    }
  }
  // step[j]: the position the walk goes to from j, as in the plain
  // transform's index table. Positions ascend within a bucket, so filling
  // each quarter front to back in ascending order gives the buckets the
  // plain transform's back-to-front fill gives. Every one of
  // step[0, dataBytes) is written, and each position is below dataBytes (at
  // most 32,770 < 2^16).
  std::uint16_t* const step = walk.step;
  for (std::int32_t i = 0; i < quarter; ++i) {
    const std::int32_t j1 = quarter + i;
    const std::int32_t j2 = 2 * quarter + i;
    const std::int32_t j3 = tail + i;
    step[cursor[0][lastColumn[i]]++] = static_cast<std::uint16_t>(i);
    step[cursor[1][lastColumn[j1]]++] = static_cast<std::uint16_t>(j1);
    step[cursor[2][lastColumn[j2]]++] = static_cast<std::uint16_t>(j2);
    step[cursor[3][lastColumn[j3]]++] = static_cast<std::uint16_t>(j3);
  }
  for (std::int32_t j = tail + quarter; j < dataBytes; ++j) {
    step[cursor[3][lastColumn[j]]++] = static_cast<std::uint16_t>(j);
  }
  // Two steps of the walk in one entry: pair[j] holds the position two
  // steps on from j in its upper 16 bits and the two bytes those steps
  // output in its lower 16 (the first in the lowest 8). The walk is one
  // chain of dependent loads, each waiting on the one before; building
  // pair costs loads that do not wait on each other, and halves the chain.
  // With the quartered tallies, against one fused entry per step: 70.7 ->
  // 99.0 MB/s on a text block (bench/stage_bench, BM_InverseBwtText).
  std::uint32_t* const pair = walk.pair;
  for (std::int32_t j = 0; j < dataBytes; ++j) {
    const std::uint32_t first = step[j];
    const std::uint32_t second = step[first];
    pair[j] = second << 16 | static_cast<std::uint32_t>(lastColumn[second]) << 8 | lastColumn[first];
  }

  walk.lastColumn = lastColumn;
  walk.out = output;
  walk.index = index;
  walk.pairsLeft = dataBytes / 2;
  walk.oddByte = dataBytes % 2 != 0;
}

void InverseWalk::Finish() {
  for (; pairsLeft > 0; --pairsLeft) {
    const std::uint32_t entry = pair[index];
    out[0] = static_cast<std::uint8_t>(entry);
    out[1] = static_cast<std::uint8_t>(entry >> 8);
    out += 2;
    index = entry >> 16;
  }
  if (oddByte) {
    *out++ = lastColumn[step[index]];
    oddByte = false;
  }
}

void InverseBwt(std::uint8_t* output, const std::uint8_t* buffer, std::int32_t count) {
  InverseWalk walk;
  PrepareInverseBwt(walk, output, buffer, count);
  walk.Finish();
}
