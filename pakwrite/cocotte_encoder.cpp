#include "cocotte_encoder.h"

#include <divsufsort.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "bytes.h"
#include "cocotte/cocotte_decoder.h"
#include "cocotte/frequency_model.h"

namespace {

constexpr std::uint32_t kNormalizeBound = 0x800000;  // the decoder takes a byte while range <= 2^23
constexpr std::uint32_t kFrequencyShift = kCocotteLgTotal;
constexpr std::uint32_t kFrequencyTotal = 1u << kCocotteLgTotal;
// The decoder's range once its first DecodeFreq has taken payload bytes 2 to
// 4: 128 shifted up three times.
constexpr std::uint32_t kFirstSymbolRange = 0x80u << 24;
// Code bytes in the encoder's window: those the decoder's 32-bit `low` has
// taken in (the last one but for its low bit).
constexpr std::int32_t kWindowBytes = 4;
// More than a symbol can add to the payload: after the first symbol, whose
// three normalisation steps the encoder starts from, a range of at least
// 2^11 needs at most two.
constexpr std::int32_t kPayloadSlackBytes = 8;
// divsufsort takes about 250 us on any input however short (its bucket
// tables cover all byte pairs): blocks of 50 bytes encoded at 0.13 MB/s.
// Up to this size a comparison sort of the suffixes is faster even when they
// share long prefixes (the 256 suffixes of a^255 b: 20 us).
constexpr saidx_t kComparisonSortBytes = 256;

// A model with the Cocotte parameters that owns its tables.
struct OwnedModel {
  OwnedModel() { InitModel(&model, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies); }
  ~OwnedModel() { FreeModel(&model); }
  OwnedModel(const OwnedModel&) = delete;
  OwnedModel& operator=(const OwnedModel&) = delete;
  FrequencyModel model;
};

// Makes `to` answer and evolve exactly as `from` does. Both own tables of the
// Cocotte size.
void CopyModel(FrequencyModel* to, const FrequencyModel& from) {
  std::uint16_t* const cumFreq = to->cumFreq;
  std::uint16_t* const newFreq = to->newFreq;
  std::uint16_t* const searchTable = to->searchTable;
  *to = from;  // every counter, whatever fields the record has
  to->cumFreq = cumFreq;
  to->newFreq = newFreq;
  to->searchTable = searchTable;
  const std::size_t entries = static_cast<std::size_t>(from.symbols) + 1;
  std::memcpy(to->cumFreq, from.cumFreq, entries * sizeof(std::uint16_t));
  std::memcpy(to->newFreq, from.newFreq, entries * sizeof(std::uint16_t));
  std::memcpy(to->searchTable, from.searchTable, kSearchTableEntries * sizeof(std::uint16_t));
}

// The inverse of CocotteDecoder's range decoder.
//
// The decoder's `low` holds code bits shifted by one against the payload
// bytes: the upper 7 bits of byte 1, then per normalisation the low bit of
// one byte and the upper 7 of the next. Doubling the interval makes it byte
// aligned: the decoder decodes correctly when payload bytes 1, 2, ... read as
// a number X satisfy 2 * bottom <= X < 2 * (bottom + range) at every step,
// with bottom and range exactly as the decoder computes them. So low_ here is
// twice the bottom, in a window of the last four code bytes the decoder has
// taken, and range_ is the decoder's own range.
//
// Bytes leave the window through a one-byte cache and a count of 0xFF bytes
// behind it, which a carry out of the window (bit 32 of low_) can still turn
// into 00. The interval never reaches beyond its starting window, so no carry
// reaches payload byte 0, which the decoder ignores: it is written as 00.
class RangeEncoder {
 public:
  // out has room for limit + kPayloadSlackBytes bytes.
  RangeEncoder(std::uint8_t* out, std::int32_t limit) : out_(out), start_(out), limit_(limit) {}

  // The decoder's DecodeFreq and DecodeUpdate for the symbol with interval
  // [cumLow, cumLow + freq) of the 4096 total.
  void Encode(std::uint32_t freq, std::uint32_t cumLow) {
    Normalize();
    const std::uint32_t scale = range_ >> kFrequencyShift;
    const std::uint32_t below = scale * cumLow;
    low_ += static_cast<std::uint64_t>(below) << 1;
    if (cumLow + freq < kFrequencyTotal) {
      range_ = scale * freq;
    } else {
      range_ -= below;
    }
  }

  // Payload bytes the decoder reads when it stops now (at the next
  // normalisation it reads more): byte 0, the bytes written and pending, and
  // the four in the window.
  std::int32_t PayloadBytes() const {
    return static_cast<std::int32_t>(out_ - start_) + pending_ + kWindowBytes;
  }

  bool OverLimit() const { return PayloadBytes() >= limit_; }

  // The decoder's final normalisation, then the bottom of the interval
  // written out to the last byte the decoder reads. Returns the payload
  // length, which is PayloadBytes() after the normalisation.
  std::int32_t Finish() {
    Normalize();
    const std::int32_t payloadBytes = PayloadBytes();
    // The cache and the 0xFF bytes behind it, then the window bytes; the
    // last shift leaves a zero in the cache, which is not written.
    for (int i = 0; i <= kWindowBytes; ++i) ShiftLow();
    assert(out_ - start_ == payloadBytes);
    return payloadBytes;
  }

 private:
  void Normalize() {
    while (range_ <= kNormalizeBound) {
      ShiftLow();
      range_ <<= 8;
    }
  }

  // Moves the window's top byte into the cache. The interval stays below
  // 2^33 in the window, so a carry adds at most one to the bytes before it:
  // once one has come, or once the byte entering the cache is below 0xFF
  // (and can take a carry itself), the cache and the 0xFF bytes behind it
  // are final.
  void ShiftLow() {
    const auto window = static_cast<std::uint32_t>(low_);
    if (window < 0xFF000000u || (low_ >> 32) != 0) {
      const auto carry = static_cast<std::uint8_t>(low_ >> 32);
      std::uint8_t byte = cache_;
      do {
        *out_++ = static_cast<std::uint8_t>(byte + carry);
        byte = 0xFF;
      } while (--pending_ != 0);
      cache_ = static_cast<std::uint8_t>(window >> 24);
    }
    ++pending_;
    low_ = static_cast<std::uint64_t>(window & 0x00FFFFFFu) << 8;
  }

  std::uint64_t low_ = 0;                // 2 * bottom within the window, carry at bit 32
  std::uint32_t range_ = kFirstSymbolRange;
  std::uint8_t cache_ = 0;               // payload byte 0
  std::int32_t pending_ = 1;             // the cache and the 0xFF bytes behind it
  std::uint8_t* out_;
  std::uint8_t* const start_;
  const std::int32_t limit_;
};

// Range-codes the symbols and the end symbol with model, which learns the
// symbols in the decoder's order: interval from the model as it stands, then
// the update. Returns the payload length, or 0 (model part way through) when
// the payload would not be shorter than limit bytes.
// REQUIRES: symbolCount >= 1; payload has room for limit + kPayloadSlackBytes.
std::int32_t CodeSymbols(FrequencyModel* model, const std::uint8_t* symbols, std::int32_t symbolCount,
                         std::uint8_t* payload, std::int32_t limit) {
  RangeEncoder encoder(payload, limit);
  std::int32_t freq = 0;
  std::int32_t cumLow = 0;
  for (std::int32_t i = 0; i < symbolCount; ++i) {
    GetFrequency(model, symbols[i], &freq, &cumLow);
    encoder.Encode(static_cast<std::uint32_t>(freq), static_cast<std::uint32_t>(cumLow));
    UpdateModel(model, symbols[i]);
    if (encoder.OverLimit()) return 0;
  }
  // The decoder's loop goes on only while payload bytes remain. It decodes
  // the end symbol because the final normalisation still reads a byte: the
  // end symbol's interval (1 or 2 of 4096, never learnt) leaves a range
  // below 2^21 + 4096.
  const std::int32_t bytesBeforeEnd = encoder.PayloadBytes();
  GetFrequency(model, kCocotteEndSymbol, &freq, &cumLow);
  encoder.Encode(static_cast<std::uint32_t>(freq), static_cast<std::uint32_t>(cumLow));
  const std::int32_t payloadBytes = encoder.Finish();
  assert(payloadBytes > bytesBeforeEnd);
  (void)bytesBeforeEnd;
  return payloadBytes < limit ? payloadBytes : 0;
}

// Working storage for one entry, sized for its largest block.
struct Workspace {
  explicit Workspace(std::size_t blockBytes)
      : doubled(2 * blockBytes),
        suffixes(blockBytes),
        sequence(blockBytes + kPrimaryIndexBytes),
        payload(blockBytes + kPrimaryIndexBytes + kPayloadSlackBytes) {}
  std::vector<std::uint8_t> doubled;   // the block written twice
  std::vector<saidx_t> suffixes;       // suffix array of the block's least rotation
  std::vector<std::uint8_t> sequence;  // the block's symbol sequence
  std::vector<std::uint8_t> payload;   // a trial coded payload
};

// The block's least rotation: where it starts and its smallest period, a
// divisor of the block's size (the size itself unless the block is a power
// of a shorter word).
struct LeastRotation {
  saidx_t start;
  saidx_t period;
};

// Duval's factorisation of the block written twice, up to the factor that
// starts in the first copy last: that factor is a Lyndon word u, repeated
// from there, and the rotation starting there is the least. It is u^k exactly
// when u's length divides the size and the rotation has that period; if not,
// the block is primitive and its least rotation is itself a Lyndon word.
// Linear in the size. REQUIRES: doubled holds the blockBytes >= 1 bytes twice.
LeastRotation FindLeastRotation(const std::uint8_t* doubled, saidx_t blockBytes) {
  const saidx_t doubledBytes = 2 * blockBytes;
  LeastRotation least{0, blockBytes};
  saidx_t factorLength = blockBytes;
  for (saidx_t i = 0; i < blockBytes;) {
    least.start = i;
    saidx_t j = i + 1;
    saidx_t k = i;
    while (j < doubledBytes && doubled[k] <= doubled[j]) {
      k = doubled[k] < doubled[j] ? i : k + 1;
      ++j;
    }
    factorLength = j - k;
    while (i <= k) i += factorLength;
  }
  const std::uint8_t* rotation = doubled + least.start;
  if (factorLength < blockBytes && blockBytes % factorLength == 0 &&
      std::memcmp(rotation, rotation + factorLength, static_cast<std::size_t>(blockBytes - factorLength)) == 0) {
    least.period = factorLength;
  }
  return least;
}

// Writes the symbol sequence of block to sequence: the primary index
// (16-bit little-endian), then the last column of the sorted rotations.
//
// The rotations are sorted through the suffixes of the least rotation's
// period u, a Lyndon word: for a Lyndon word the order of its suffixes (a
// prefix before the longer string) is the order of its rotations. Sorting the
// suffixes of the block written twice and keeping those that start in the
// first copy gives the same order but sorts twice the bytes; on 32,770-byte
// blocks of text this way is 2.5 times faster (divsufsort alone: 17 against
// 7 MB/s of block data).
//
// The block is u^k: each rotation of u stands for k equal rows, whose last
// column is the same in any order. The primary index names the first of the
// rows equal to the block, as a stable sort of the rotations would; the
// decoder's inverse follows equal rows by content, so any of them rebuilds
// the block.
// REQUIRES: 1 <= block.size() <= the workspace's block size.
void ForwardBwt(std::span<const std::uint8_t> block, Workspace& work, std::uint8_t* sequence) {
  const auto blockBytes = static_cast<saidx_t>(block.size());
  std::uint8_t* const doubled = work.doubled.data();
  saidx_t* const suffixes = work.suffixes.data();
  std::memcpy(doubled, block.data(), block.size());
  std::memcpy(doubled + blockBytes, block.data(), block.size());

  const LeastRotation least = FindLeastRotation(doubled, blockBytes);
  const std::uint8_t* const word = doubled + least.start;  // u
  const saidx_t period = least.period;
  if (period <= kComparisonSortBytes) {
    std::iota(suffixes, suffixes + period, 0);
    std::sort(suffixes, suffixes + period, [word, period](saidx_t a, saidx_t b) {
      return std::lexicographical_compare(word + a, word + period, word + b, word + period);
    });
  } else if (divsufsort(word, suffixes, period) != 0) {
    throw std::bad_alloc();
  }

  const saidx_t repeats = blockBytes / period;
  // The block itself is the rotation of u^k that starts at blockBytes -
  // least.start, which is u's rotation at that offset modulo the period.
  const saidx_t blockStart = (blockBytes - least.start) % period;
  std::uint8_t* lastColumn = sequence + kPrimaryIndexBytes;
  saidx_t primary = 0;
  for (saidx_t row = 0; row < period; ++row) {
    const saidx_t start = suffixes[row];
    if (start == blockStart) primary = row * repeats;
    const std::uint8_t last = word[start == 0 ? period - 1 : start - 1];
    if (repeats == 1) {
      *lastColumn++ = last;
    } else {
      std::memset(lastColumn, last, static_cast<std::size_t>(repeats));
      lastColumn += repeats;
    }
  }
  WriteLe16(sequence, static_cast<std::uint16_t>(primary));
}

// Move-to-front coding in place, the inverse of MtfDecode over the same
// table.
void MtfEncode(std::uint8_t* table, std::uint8_t* buffer, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint8_t value = buffer[i];
    if (table[0] == value) {
      buffer[i] = 0;
      continue;
    }
    const auto* found = static_cast<const std::uint8_t*>(std::memchr(table, value, 256));
    const auto position = static_cast<std::size_t>(found - table);
    std::memmove(table + 1, table, position);
    table[0] = value;
    buffer[i] = static_cast<std::uint8_t>(position);
  }
}

void AppendBlock(std::vector<std::uint8_t>& packed, std::int32_t outputSize, const std::uint8_t* payload,
                 std::int32_t payloadBytes) {
  const std::size_t at = packed.size();
  packed.resize(at + kBlockHeaderBytes + static_cast<std::size_t>(payloadBytes));
  WriteLe16(&packed[at + kBlockSizeOffset], static_cast<std::uint16_t>(payloadBytes + kBlockHeaderBytes));
  WriteLe16(&packed[at + kBlockOutputSizeOffset], static_cast<std::uint16_t>(outputSize));
  std::memcpy(&packed[at + kBlockHeaderBytes], payload, static_cast<std::size_t>(payloadBytes));
}

}  // namespace

std::vector<std::uint8_t> EncodeCocotte(std::span<const std::uint8_t> data, const CocotteEncodeOptions& options) {
  if (options.blockData < 1 || options.blockData > kCocotteMaxBlockData) {
    throw std::invalid_argument("Cocotte block data size must be 1 to 32770 bytes");
  }
  std::vector<std::uint8_t> packed;
  if (data.empty()) return packed;

  const auto blockLimit = static_cast<std::size_t>(options.blockData);
  const std::size_t blockCount = (data.size() + blockLimit - 1) / blockLimit;
  // A block takes at most its data, the primary index and its header.
  packed.reserve(data.size() + blockCount * (kPrimaryIndexBytes + kBlockHeaderBytes));

  Workspace work(std::min(blockLimit, data.size()));
  std::uint8_t mtfTable[256];
  MtfReset(mtfTable);
  // The decoder's model (committed), the copy a block is tried on, and a
  // fresh one to restart from after a stored block.
  OwnedModel model;
  OwnedModel trial;
  const OwnedModel fresh;

  for (std::size_t index = 0; index < blockCount; ++index) {
    const std::size_t offset = index * blockLimit;
    const std::span<const std::uint8_t> block = data.subspan(offset, std::min(blockLimit, data.size() - offset));
    const auto outputSize = static_cast<std::int32_t>(block.size());
    const std::int32_t symbolCount = outputSize + kPrimaryIndexBytes;
    std::uint8_t* const sequence = work.sequence.data();
    ForwardBwt(block, work, sequence);
    // Stored or coded, the symbols pass through the table.
    MtfEncode(mtfTable, sequence, symbolCount);

    const bool forceStored =
        std::find(options.forceStored.begin(), options.forceStored.end(), index) != options.forceStored.end();
    std::int32_t codedBytes = 0;
    if (!forceStored) {
      CopyModel(&trial.model, model.model);
      // Coded only when shorter than the sequence: a payload of exactly
      // symbolCount bytes would be read as stored.
      codedBytes = CodeSymbols(&trial.model, sequence, symbolCount, work.payload.data(), symbolCount);
    }
    if (codedBytes > 0) {
      AppendBlock(packed, outputSize, work.payload.data(), codedBytes);
      std::swap(model.model, trial.model);
    } else {
      AppendBlock(packed, outputSize, sequence, symbolCount);
      // The decoder restarts its model after every stored block.
      CopyModel(&model.model, fresh.model);
    }
  }
  return packed;
}
