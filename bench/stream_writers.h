// Test-side writers of "Mariel" and "Cocotte" streams, for the decoder tests
// and the benchmarks: they write any item form on request, including the
// ones a real encoder would not choose, and know what the stream decodes to.
// Slow and simple by design; not part of any module.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

#include "bytes.h"
#include "cocotte/cocotte_decoder.h"
#include "cocotte/frequency_model.h"

// Deterministic data, the same on every platform and compiler.

inline std::uint64_t NextRandom(std::uint64_t& state) {  // splitmix64
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

inline std::int32_t RandomBelow(std::uint64_t& state, std::int32_t bound) {
  return static_cast<std::int32_t>(NextRandom(state) % static_cast<std::uint64_t>(bound));
}

inline std::vector<std::uint8_t> RandomBytes(std::uint64_t seed, std::size_t size) {
  std::uint64_t state = seed;
  std::vector<std::uint8_t> bytes(size);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(NextRandom(state));
  return bytes;
}

// Words from a small vocabulary, ASCII and double-byte: compressible, like
// the script of a game.
inline std::vector<std::uint8_t> WordSoup(std::uint64_t seed, std::size_t size) {
  static const char* const kWords[] = {"the ",    "cat ",     "sat ",     "on ",      "a ",
                                       "mat, ",   "and ",     "then ",    "it ",      "slept.\n",
                                       "Oh! ",    "\x82\xa0", "\x82\xa2", "\x81\x41 "};
  std::uint64_t state = seed;
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < size) {
    const char* word = kWords[RandomBelow(state, static_cast<std::int32_t>(std::size(kWords)))];
    bytes.insert(bytes.end(), word, word + std::strlen(word));
  }
  bytes.resize(size);
  return bytes;
}

// Bytes shaped like program and game data: tables of small little-endian
// numbers, instruction-like byte strings with random operands, zero padding
// and stretches of noise.
inline std::vector<std::uint8_t> BinaryLike(std::uint64_t seed, std::size_t size) {
  static const std::uint8_t kOps[][3] = {{0x8B, 0x45, 0xF8}, {0x89, 0x4D, 0xFC}, {0xE8, 0x00, 0x00},
                                         {0x83, 0xC4, 0x08}, {0x55, 0x8B, 0xEC}, {0xC3, 0x90, 0x90}};
  std::uint64_t state = seed;
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < size) {
    switch (RandomBelow(state, 4)) {
      case 0:  // a table of small numbers
        for (std::int32_t i = RandomBelow(state, 32); i >= 0; --i) {
          const std::int32_t value = RandomBelow(state, 1 + RandomBelow(state, 4096));
          for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
        }
        break;
      case 1:  // code: an opcode and one operand byte
        for (std::int32_t i = RandomBelow(state, 64); i >= 0; --i) {
          const std::uint8_t* op = kOps[RandomBelow(state, static_cast<std::int32_t>(std::size(kOps)))];
          bytes.insert(bytes.end(), op, op + 3);
          bytes.push_back(static_cast<std::uint8_t>(RandomBelow(state, 16) * 4));
        }
        break;
      case 2:  // padding
        bytes.resize(bytes.size() + 1 + static_cast<std::size_t>(RandomBelow(state, 64)), 0);
        break;
      default:  // noise, as in packed resources
        for (std::int32_t i = RandomBelow(state, 48); i >= 0; --i) {
          bytes.push_back(static_cast<std::uint8_t>(NextRandom(state)));
        }
        break;
    }
  }
  bytes.resize(size);
  return bytes;
}

// Builds a Mariel stream item by item and the output it decodes to (into a
// zero-filled block).
class MarielWriter {
 public:
  enum class LengthForm { Shortest, OneByte, TwoBytes };

  void Literal(std::uint8_t byte) {
    Item(false);
    bytes_.push_back(byte);
    output_.push_back(byte);
  }

  // distance 0 .. 1535, length 0 .. 65535. The shortest forms unless asked:
  // a long distance form is used anyway for distances 0 and above 10, a long
  // length form for lengths 0 and above 14.
  void Copy(std::int32_t distance, std::int32_t length, LengthForm lengthForm = LengthForm::Shortest,
            bool longDistance = false) {
    assert(distance >= 0 && distance <= 1535 && length >= 0 && length <= 65535);
    if (lengthForm == LengthForm::Shortest && (length == 0 || length > 14)) {
      lengthForm = length <= 255 ? LengthForm::OneByte : LengthForm::TwoBytes;
    }
    assert(lengthForm != LengthForm::OneByte || length <= 255);
    longDistance = longDistance || distance == 0 || distance > 10;
    const unsigned lengthCode =
        lengthForm == LengthForm::Shortest ? static_cast<unsigned>(length - 1) : lengthForm == LengthForm::OneByte ? 14 : 15;
    const unsigned distanceCode = longDistance ? 10 + static_cast<unsigned>(distance / 256) : static_cast<unsigned>(distance - 1);
    Item(true);
    bytes_.push_back(static_cast<std::uint8_t>(lengthCode << 4 | distanceCode));
    if (lengthForm == LengthForm::OneByte) bytes_.push_back(static_cast<std::uint8_t>(length));
    if (lengthForm == LengthForm::TwoBytes) {
      bytes_.push_back(static_cast<std::uint8_t>(length));
      bytes_.push_back(static_cast<std::uint8_t>(length >> 8));
    }
    if (longDistance) bytes_.push_back(static_cast<std::uint8_t>(distance % 256));
    // Byte by byte, as the decoder copies; distance 0 meets the zeros of the block.
    for (std::int32_t i = 0; i < length; ++i) {
      output_.push_back(distance == 0 ? 0 : output_[output_.size() - static_cast<std::size_t>(distance)]);
    }
  }

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  const std::vector<std::uint8_t>& Output() const { return output_; }

 private:
  void Item(bool backReference) {
    if (mask_ == 0) {
      flagOffset_ = bytes_.size();
      bytes_.resize(bytes_.size() + 4, 0);
      mask_ = 0x80000000u;
    }
    if (backReference) WriteLe32(&bytes_[flagOffset_], ReadLe32(&bytes_[flagOffset_]) | mask_);
    mask_ >>= 1;
  }

  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> output_;
  std::size_t flagOffset_ = 0;
  std::uint32_t mask_ = 0;
};

// A greedy Mariel stream of data: at each position the longest match among
// the last 64 bytes, copied when it is at least 3 bytes long and take() says
// so (asked only then), otherwise a literal.
template <class Take>
MarielWriter GreedyMarielStream(const std::vector<std::uint8_t>& data, Take take) {
  MarielWriter writer;
  for (std::size_t at = 0; at < data.size();) {
    std::int32_t bestLength = 0;
    std::int32_t bestDistance = 0;
    for (std::int32_t distance = 1; distance <= 64 && static_cast<std::size_t>(distance) <= at; ++distance) {
      std::int32_t length = 0;
      while (at + static_cast<std::size_t>(length) < data.size() && length < 65535 &&
             data[at + static_cast<std::size_t>(length)] ==
                 data[at + static_cast<std::size_t>(length) - static_cast<std::size_t>(distance)]) {
        ++length;
      }
      if (length > bestLength) {
        bestLength = length;
        bestDistance = distance;
      }
    }
    if (bestLength >= 3 && take()) {
      writer.Copy(bestDistance, bestLength);
      at += static_cast<std::size_t>(bestLength);
    } else {
      writer.Literal(data[at++]);
    }
  }
  return writer;
}

// Range encoder that mirrors CocotteDecoder's decoder step for step: the
// same normalisation points, the same scale and the same interval rule, with
// the code value kept as a big number so that carries are exact.
class RangeWriter {
 public:
  void Encode(std::uint32_t freq, std::uint32_t cumLow) {
    Normalize();
    const std::uint32_t scale = range_ >> 12;
    Add(static_cast<std::uint64_t>(scale) * cumLow);
    if (cumLow + freq < 4096) {
      range_ = scale * freq;
    } else {
      range_ -= scale * cumLow;
    }
  }

  // The payload: an ignored byte, then the code value (the bottom of the
  // final interval) shifted left one bit, as the decoder reads it.
  std::vector<std::uint8_t> Finish() {
    Normalize();
    std::vector<std::uint8_t> payload{0};
    for (std::size_t i = 0; i < digits_.size(); ++i) {
      const unsigned next = i + 1 < digits_.size() ? digits_[i + 1] >> 7 : 0;
      payload.push_back(static_cast<std::uint8_t>(digits_[i] << 1 | next));
    }
    return payload;
  }

 private:
  void Normalize() {
    while (range_ <= 0x800000) {
      digits_.push_back(0);
      range_ <<= 8;
    }
  }
  void Add(std::uint64_t value) {
    for (std::size_t i = digits_.size(); value != 0;) {
      assert(i > 0);  // the interval never leaves [0, 2^precision)
      --i;
      value += digits_[i];
      digits_[i] = static_cast<std::uint8_t>(value);
      value >>= 8;
    }
  }

  // Big-endian code value at the decoder's precision: 7 bits in the first
  // digit, 8 in each further one.
  std::vector<std::uint8_t> digits_{0};
  std::uint32_t range_ = 0x80;
};

// Builds a Cocotte stream block by block, mirroring the decoder's model and
// move-to-front table across blocks. Unlike pakwrite's EncodeCocotte it
// codes blocks that code longer than they store, and it builds where
// pakwrite does not (the Windows test build): the decoder's tests use it.
class CocotteWriter {
 public:
  // Auto: coded unless the coded payload would not be shorter than the
  // symbol sequence. Coded: always coded (a payload that happens to be
  // exactly as long as the sequence gets one ignored byte more).
  enum class Kind { Auto, Stored, Coded };

  CocotteWriter() {
    InitModel(&model_, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies);
    MtfReset(table_);
  }
  ~CocotteWriter() { FreeModel(&model_); }
  CocotteWriter(const CocotteWriter&) = delete;
  CocotteWriter& operator=(const CocotteWriter&) = delete;

  // REQUIRES: data.size() <= kBlockBufferBytes - 2.
  CocotteWriter& Block(const std::vector<std::uint8_t>& data, Kind kind = Kind::Auto) {
    std::vector<std::uint8_t> sequence = SymbolSequence(data);
    for (std::uint8_t& symbol : sequence) symbol = MtfEncode(symbol);

    std::vector<std::uint8_t> payload;
    bool stored = kind == Kind::Stored;
    if (!stored) {
      FrequencyModel trial;
      InitModel(&trial, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies);
      CopyModel(&trial, model_);
      payload = Code(&trial, sequence);
      if (kind == Kind::Auto && payload.size() >= sequence.size()) {
        stored = true;
      } else {
        if (payload.size() == sequence.size()) payload.push_back(0);
        std::swap(trial, model_);
      }
      FreeModel(&trial);
    }
    if (stored) {
      payload = sequence;
      FreeModel(&model_);
      InitModel(&model_, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies);
    }
    if (payload.size() + kBlockHeaderBytes > 0xFFFF) throw std::length_error("block too long");
    const std::size_t at = bytes_.size();
    bytes_.resize(at + kBlockHeaderBytes);
    WriteLe16(&bytes_[at + kBlockSizeOffset], static_cast<std::uint16_t>(payload.size() + kBlockHeaderBytes));
    WriteLe16(&bytes_[at + kBlockOutputSizeOffset], static_cast<std::uint16_t>(data.size()));
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    output_.insert(output_.end(), data.begin(), data.end());
    storedLast_ = stored;
    return *this;
  }

  // Splits data into blocks of at most blockBytes.
  CocotteWriter& Blocks(const std::vector<std::uint8_t>& data, std::size_t blockBytes, Kind kind = Kind::Auto) {
    for (std::size_t at = 0; at < data.size(); at += blockBytes) {
      const std::size_t end = std::min(data.size(), at + blockBytes);
      Block(std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(at),
                                      data.begin() + static_cast<std::ptrdiff_t>(end)),
            kind);
    }
    return *this;
  }

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  const std::vector<std::uint8_t>& Output() const { return output_; }
  bool StoredLast() const { return storedLast_; }

  // Primary index and last column of the Burrows-Wheeler transform, with
  // rotations sorted as unsigned byte strings: prefix doubling, each round a
  // counting sort by the rank of the rotation's first half (the order by the
  // second half comes from the previous round).
  static std::vector<std::uint8_t> SymbolSequence(const std::vector<std::uint8_t>& data) {
    const std::size_t n = data.size();
    std::vector<std::uint8_t> sequence(2, 0);
    if (n == 0) return sequence;
    std::vector<std::size_t> order(n);
    std::vector<std::size_t> rank(data.begin(), data.end());
    std::vector<std::size_t> shifted(n);
    std::vector<std::size_t> count;
    auto sortByRank = [&](const std::vector<std::size_t>& input) {
      count.assign(std::max<std::size_t>(n, 256) + 1, 0);
      for (std::size_t i : input) ++count[rank[i] + 1];
      for (std::size_t r = 1; r < count.size(); ++r) count[r] += count[r - 1];
      for (std::size_t i : input) order[count[rank[i]]++] = i;
    };
    for (std::size_t i = 0; i < n; ++i) shifted[i] = i;
    sortByRank(shifted);
    for (std::size_t k = 1; k < n; k *= 2) {
      for (std::size_t i = 0; i < n; ++i) shifted[i] = (order[i] + n - k) % n;
      sortByRank(shifted);
      std::vector<std::size_t> next(n);
      for (std::size_t i = 1; i < n; ++i) {
        const std::size_t a = order[i - 1];
        const std::size_t b = order[i];
        const bool same = rank[a] == rank[b] && rank[(a + k) % n] == rank[(b + k) % n];
        next[b] = next[a] + (same ? 0 : 1);
      }
      rank.swap(next);
      if (rank[order[n - 1]] == n - 1) break;
    }
    std::size_t primary = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (order[i] == 0) primary = i;
      sequence.push_back(data[(order[i] + n - 1) % n]);
    }
    WriteLe16(sequence.data(), static_cast<std::uint16_t>(primary));
    return sequence;
  }

 private:
  std::uint8_t MtfEncode(std::uint8_t value) {
    std::uint8_t* found = std::find(table_, table_ + 256, value);
    const auto position = static_cast<std::uint8_t>(found - table_);
    std::memmove(table_ + 1, table_, position);
    table_[0] = value;
    return position;
  }

  static void CopyModel(FrequencyModel* to, const FrequencyModel& from) {
    const std::size_t entries = static_cast<std::size_t>(from.symbols) + 1;
    std::memcpy(to->cumFreq, from.cumFreq, entries * sizeof(std::uint16_t));
    std::memcpy(to->newFreq, from.newFreq, entries * sizeof(std::uint16_t));
    std::memcpy(to->searchTable, from.searchTable, kSearchTableEntries * sizeof(std::uint16_t));
    to->left = from.left;
    to->nextLeft = from.nextLeft;
    to->rescale = from.rescale;
    to->increment = from.increment;
  }

  // The decoder's order per symbol: interval from the model as it stands,
  // then the model learns the symbol; the end symbol is never learnt.
  static std::vector<std::uint8_t> Code(FrequencyModel* model, const std::vector<std::uint8_t>& sequence) {
    RangeWriter writer;
    std::int32_t freq = 0;
    std::int32_t cumLow = 0;
    for (std::uint8_t symbol : sequence) {
      GetFrequency(model, symbol, &freq, &cumLow);
      writer.Encode(static_cast<std::uint32_t>(freq), static_cast<std::uint32_t>(cumLow));
      UpdateModel(model, symbol);
    }
    GetFrequency(model, kCocotteEndSymbol, &freq, &cumLow);
    writer.Encode(static_cast<std::uint32_t>(freq), static_cast<std::uint32_t>(cumLow));
    return writer.Finish();
  }

  FrequencyModel model_;
  std::uint8_t table_[256];
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> output_;
  bool storedLast_ = false;
};

// One block of a Cocotte stream, and for a coded block the code length in
// bits that an exact coder would give its symbols and its end symbol under
// the same adaptive model (sum of log2(4096 / frequency)).
struct CocotteBlockCost {
  std::int32_t outputSize = 0;
  std::int32_t payloadBytes = 0;
  bool stored = false;
  double idealBits = 0;
};

// The blocks of packed, decoding each coded block's symbols with the real
// range decoder and pricing them with a model that evolves as the decoder's
// does. Throws std::runtime_error when a block reaches past the data or a
// coded block does not yield its symbols, ESpiError when the decoder does.
inline std::vector<CocotteBlockCost> CocotteBlockCosts(const std::vector<std::uint8_t>& packed) {
  std::vector<CocotteBlockCost> blocks;
  CocotteDecoder decoder;
  CocotteDecoder pricer;  // owns the pricing model
  FrequencyModel* const priced = &pricer.model;
  std::vector<std::uint8_t> symbols(kBlockBufferBytes);
  std::size_t at = 0;
  while (at < packed.size()) {
    if (packed.size() - at < kBlockHeaderBytes) throw std::runtime_error("truncated block header");
    CocotteBlockCost block;
    const std::int32_t blockSize = ReadLe16(&packed[at + kBlockSizeOffset]);
    block.outputSize = ReadLe16(&packed[at + kBlockOutputSizeOffset]);
    block.payloadBytes = blockSize - kBlockHeaderBytes;
    const std::int32_t symbolCount = block.outputSize + kPrimaryIndexBytes;
    if (block.payloadBytes < 0 || static_cast<std::size_t>(blockSize) > packed.size() - at ||
        symbolCount > kBlockBufferBytes) {
      throw std::runtime_error("block past the data");
    }
    block.stored = block.payloadBytes == symbolCount;
    if (block.stored) {
      FreeModel(&decoder.model);
      InitModel(&decoder.model, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies);
      FreeModel(priced);
      InitModel(priced, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies);
    } else {
      if (!decoder.DecodeSymbols(symbols.data(), &packed[at + kBlockHeaderBytes], symbolCount,
                                 block.payloadBytes)) {
        throw std::runtime_error("coded block short of its symbols");
      }
      std::int32_t freq = 0;
      std::int32_t cumLow = 0;
      for (std::int32_t i = 0; i < symbolCount; ++i) {
        GetFrequency(priced, symbols[static_cast<std::size_t>(i)], &freq, &cumLow);
        block.idealBits += std::log2(4096.0 / freq);
        UpdateModel(priced, symbols[static_cast<std::size_t>(i)]);
      }
      GetFrequency(priced, kCocotteEndSymbol, &freq, &cumLow);
      block.idealBits += std::log2(4096.0 / freq);
    }
    blocks.push_back(block);
    at += static_cast<std::size_t>(blockSize);
  }
  return blocks;
}
