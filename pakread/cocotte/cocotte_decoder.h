// "Cocotte" (method 2): blocks of range-coded symbols over an adaptive
// frequency model, then move-to-front decoding and an inverse
// Burrows-Wheeler transform, straight into the entry's output.
//
// The packed data are blocks with nothing before, between or after them:
//
//   Block (little-endian)
//   +0  blockSize   uint16: the whole block, this header included
//   +2  outputSize  uint16: entry bytes the block yields
//   +4  payload     blockSize - 4 bytes
//
// The block's symbol sequence is n = outputSize + 2 bytes. A payload of
// exactly n bytes is that sequence, stored (and the model restarts after
// the block); any other payload is a range-coded stream of the n symbols and
// the end symbol 256:
//
//   Coded payload
//   +0  ignored
//   +1  first code byte: its upper 7 bits start `low`
//   +2  one further code byte per normalisation step; the rest is ignored
//
// Once move-to-front coding is undone the symbol sequence holds:
//
//   +0  primary index p, uint16 little-endian, below outputSize unless 0
//   +2  last column L of the Burrows-Wheeler transform, outputSize bytes
#pragma once

#include <cstdint>

#include "frequency_model.h"
#include "progress.h"

constexpr std::int32_t kBlockHeaderBytes = 4;
constexpr std::int32_t kBlockSizeOffset = 0;
constexpr std::int32_t kBlockOutputSizeOffset = 2;
constexpr std::int32_t kPrimaryIndexBytes = 2;
// The block buffer holds one block's symbol sequence, so a block yields at
// most 32,770 bytes.
constexpr std::int32_t kBlockBufferBytes = 32772;
// The index vector of the inverse transform covers any 16-bit size.
constexpr std::int32_t kMaxTransformBytes = 65536;

struct InverseWalk;

constexpr std::int32_t kCocotteSymbols = 257;
constexpr std::int32_t kCocotteEndSymbol = 256;
constexpr std::int32_t kCocotteLgTotal = 12;
constexpr std::int32_t kCocotteRescaleLimit = 2000;

// State of the decoding of one entry: the range decoder's registers (set up
// afresh for every coded block), the move-to-front table (identity at the
// start of Decode, carried across blocks) and the frequency model (carried
// across coded blocks, restarted after every stored block).
//
// The members are public so that the stages can be driven and inspected one
// by one; Decode is the only operation a caller needs.
class CocotteDecoder {
 public:
  // Builds the model. Throws ESpiError(OutOfMemory) when its tables cannot
  // be allocated.
  CocotteDecoder();
  ~CocotteDecoder();
  CocotteDecoder(const CocotteDecoder&) = delete;
  CocotteDecoder& operator=(const CocotteDecoder&) = delete;

  // Decodes the packedSize bytes at packed into the unpackedSize bytes at
  // output. Call once per decoder: the model evolves.
  //
  // Reports (packed bytes consumed by the earlier blocks, packedSize) before
  // every block; none when packedSize is 0.
  //
  // True exactly when the blocks consumed all packedSize bytes and produced
  // all unpackedSize bytes. False when a block's header or payload reaches
  // past the packed data, when a block's output would reach past
  // unpackedSize, when a coded block ends before its n symbols, or when the
  // blocks fall short. Throws ESpiError(BrokenData) when a coded payload
  // runs out or holds more than n symbols, when n exceeds kBlockBufferBytes
  // or when p is not below a non-zero outputSize; ESpiError(Aborted) when the
  // callback asks to stop; ESpiError(OutOfMemory) when the model cannot be
  // rebuilt after a stored block.
  //
  // Never reads outside packed[0, packedSize) nor writes outside
  // output[0, unpackedSize), whatever the bytes say. What earlier blocks
  // wrote stays in the output when a later block fails.
  bool Decode(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
              std::int32_t packedSize, ProgressReporter reporter);

  // Decode through the plain stages (DecodeSymbolsPlain, MtfDecodePlain,
  // InverseBwtPlain). Decode gives the same answer, reports, exception and
  // output bytes for every input; the tests compare the two.
  bool DecodePlain(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                   std::int32_t packedSize, ProgressReporter reporter);

  // Range decoder. All arithmetic on low, range and scale is unsigned 32-bit
  // and wraps.

  // The next payload byte; ESpiError(BrokenData) when all inSize are read.
  std::uint8_t ReadByte();
  // Reads and discards payload byte 0, takes byte 1; range = 128.
  void StartDecoding();
  // Takes in one byte per step while range <= 2^23.
  void Normalize();
  // Normalizes, sets scale = range >> shift and returns low / scale, clamped
  // to 2^shift - 1 (a quotient that large lies in the top symbol's interval).
  std::uint32_t DecodeFreq(std::uint32_t shift);
  // Narrows the range to the interval [cumLow, cumLow + freq) of total, using
  // the scale of the latest DecodeFreq; the interval that reaches the total
  // also takes what the division left over.
  void DecodeUpdate(std::uint32_t freq, std::uint32_t cumLow, std::uint32_t total);

  // Decodes the range-coded payload of payloadSize bytes at in into at most
  // symbolLimit symbols at out. The loop runs while payload bytes remain
  // unread; then the end symbol's interval is applied once (with the scale of
  // the latest DecodeFreq) and the range normalised, which may read on.
  // True when exactly symbolLimit symbols came before the end symbol or the
  // end of the payload; false when fewer did. Throws ESpiError(BrokenData)
  // when a byte is needed beyond payloadSize, or at the first symbol beyond
  // symbolLimit (nothing is stored past out[symbolLimit - 1]).
  bool DecodeSymbols(std::uint8_t* out, const std::uint8_t* in, std::int32_t symbolLimit,
                     std::int32_t payloadSize);
  // The same, one operation at a time through ReadByte, Normalize,
  // DecodeFreq, FindSymbol, GetFrequency, DecodeUpdate and UpdateModel.
  // DecodeSymbols leaves the same symbols, members and model and throws at
  // the same point.
  bool DecodeSymbolsPlain(std::uint8_t* out, const std::uint8_t* in, std::int32_t symbolLimit,
                          std::int32_t payloadSize);

  // DecodeSymbols, and with MoveToFront each symbol also goes through the
  // move-to-front step (mtfTable) before it is stored, and walk (the
  // previous block's inverse transform) advances by up to one pair of steps
  // per symbol: on a little-endian machine Decode's coded blocks take this
  // one pass instead of three.
  template <bool MoveToFront>
  bool DecodeSymbolsFast(std::uint8_t* out, const std::uint8_t* in, std::int32_t symbolLimit,
                         std::int32_t payloadSize, InverseWalk* walk = nullptr);

  // The block loop of Decode (Plain false) and DecodePlain (Plain true).
  template <bool Plain>
  bool DecodeBlocks(std::uint8_t* output, const std::uint8_t* packed, std::int32_t unpackedSize,
                    std::int32_t packedSize, ProgressReporter reporter);

  const std::uint8_t* inPtr = nullptr;  // next payload byte
  std::uint8_t* outPtr = nullptr;       // where the next symbol goes
  std::int32_t inSize = 0;              // payload bytes of the current block
  std::int32_t inCount = 0;             // payload bytes read so far
  std::int32_t outLimit = 0;            // symbols the block must yield
  std::int32_t outCount = 0;            // symbols stored so far
  std::uint8_t mtfTable[256] = {};      // mtfTable[k]: byte value at position k
  std::uint32_t low = 0;
  std::uint32_t range = 0;
  // range >> 12 as taken by the latest DecodeFreq. 0 before the first one, so
  // that a two-byte payload in the entry's first coded block fails in the
  // final normalisation.
  std::uint32_t scale = 0;
  std::uint8_t lastByte = 0;  // the payload byte read last
  FrequencyModel model;
};

// table[k] = k.
void MtfReset(std::uint8_t* table);

// Undoes move-to-front coding of count bytes in place: each byte is the
// position of its value in table, which then moves to the front.
void MtfDecode(std::uint8_t* table, std::uint8_t* buffer, std::int32_t count);
// The same, one memmove per byte.
void MtfDecodePlain(std::uint8_t* table, std::uint8_t* buffer, std::int32_t count);

// The walk of the fast inverse transform of one block, set up by
// PrepareInverseBwt and run by Finish, or a piece at a time: Decode takes a
// pair of steps per symbol of the next block while decoding it, so that the
// walk's chain of dependent loads overlaps the range decoder's chain.
struct InverseWalk {
  // step[j]: the position the walk goes to from j. pair[j]: the position two
  // steps on in the upper 16 bits, the two bytes those steps output in the
  // lower 16 (the first in the lowest 8).
  std::uint16_t step[kBlockBufferBytes - kPrimaryIndexBytes];
  std::uint32_t pair[kBlockBufferBytes - kPrimaryIndexBytes];
  const std::uint8_t* lastColumn = nullptr;  // read by the last step of an odd count
  std::uint8_t* out = nullptr;               // where the next two bytes go
  std::uint32_t index = 0;                   // the walk's position
  std::int32_t pairsLeft = 0;
  bool oddByte = false;  // one single step after the pairs

  // Runs what is left of the walk; then nothing is left.
  void Finish();
};

// Checks the primary index and builds the walk's tables for the sequence of
// count bytes in buffer (primary index, then last column), whose count - 2
// output bytes go to output. Throws ESpiError(BrokenData) when the sequence
// holds data and its primary index is not below their number; then nothing
// is written. buffer must stay unchanged until the walk is finished.
// REQUIRES: the walk is finished; 2 <= count <= kBlockBufferBytes.
void PrepareInverseBwt(InverseWalk& walk, std::uint8_t* output, const std::uint8_t* buffer, std::int32_t count);

// Undoes the Burrows-Wheeler transform of the symbol sequence of count bytes
// in buffer (primary index, then last column), writing count - 2 bytes to
// output: PrepareInverseBwt and Finish. Throws as PrepareInverseBwt.
// REQUIRES: 2 <= count <= kBlockBufferBytes (one block's sequence).
void InverseBwt(std::uint8_t* output, const std::uint8_t* buffer, std::int32_t count);
// The same with separate tally, cursor and index tables: two loads per
// output byte. REQUIRES: 2 <= count <= kMaxTransformBytes + 2.
void InverseBwtPlain(std::uint8_t* output, const std::uint8_t* buffer, std::int32_t count);
