#include "cocotte_decoder.h"

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

bool CocotteDecoder::DecodeSymbols(std::uint8_t* out, const std::uint8_t* in, std::int32_t symbolLimit,
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

bool CocotteDecoder::Decode(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                            std::int32_t packedSize, ProgressReporter reporter) {
  MtfReset(mtfTable);
  std::int32_t consumed = 0;
  std::int32_t produced = 0;
  std::uint8_t block[kBlockBufferBytes];

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

    if (payloadLength == symbolCount) {
      std::memcpy(block, payload, static_cast<std::size_t>(symbolCount));
      // After the copy: the restart affects only the blocks that follow.
      FreeModel(&model);
      InitModel(&model, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies);
    } else if (!DecodeSymbols(block, payload, symbolCount, payloadLength)) {
      break;
    }
    MtfDecode(mtfTable, block, symbolCount);
    InverseBwt(output + produced, block, symbolCount);
    consumed += blockSize;
    produced += outputSize;
  }
  return consumed == packedSize && produced == unpackedSize;
}

void MtfReset(std::uint8_t* table) {
  for (int k = 0; k < 256; ++k) table[k] = static_cast<std::uint8_t>(k);
}

void MtfDecode(std::uint8_t* table, std::uint8_t* buffer, std::int32_t count) {
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

void InverseBwt(std::uint8_t* output, const std::uint8_t* buffer, std::int32_t count) {
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
