// Mariel encoder: a parse into literals and back-references over hash
// chains, written in the decoder's flag-word layout.
//
// Every parse prices items exactly, in bits: 8 per byte plus the item's flag
// bit (only the rounding of the last flag word is left out).
//   literal                                     1 byte
//   reference  token                            1 byte
//              + length 15..255 / 256..65535    1 / 2 bytes
//              + distance 0 or 11..1535         1 byte
// A reference of length 1 never costs less than the literal, so every
// reference written here has length 2 or more and so takes at most as many
// bytes as it yields: no input grows beyond its bytes plus one flag word per
// 32 of them.
#include "mariel_encoder.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "bytes.h"

namespace {

// Format limits.
constexpr std::int32_t kMaxDistance = 1535;
constexpr std::int32_t kMaxLength = 65535;
constexpr std::int32_t kShortDistanceMax = 10;   // distances 1..10 fit the token
constexpr std::int32_t kShortLengthMax = 14;     // lengths 1..14 fit the token
constexpr std::int32_t kOneByteLengthMax = 255;  // then one length byte, then two
constexpr unsigned kLengthCodeOneByte = 14;
constexpr unsigned kLengthCodeTwoBytes = 15;
constexpr unsigned kFirstExtendedDistanceCode = 10;
constexpr std::uint32_t kFirstFlagBit = 0x80000000u;
constexpr std::size_t kFlagWordBytes = 4;
constexpr std::size_t kItemsPerFlagWord = 32;

constexpr std::int32_t kLiteralBits = 9;

constexpr std::int32_t ReferenceBytes(std::int32_t length, std::int32_t distance) {
  return 1 + (length > kShortLengthMax ? 1 : 0) + (length > kOneByteLengthMax ? 1 : 0) +
         (distance == 0 || distance > kShortDistanceMax ? 1 : 0);
}

constexpr std::int32_t ReferenceBits(std::int32_t length, std::int32_t distance) {
  return 8 * ReferenceBytes(length, distance) + 1;
}

// Bits saved against writing the same bytes as literals.
constexpr std::int32_t Gain(std::int32_t length, std::int32_t distance) {
  return kLiteralBits * length - ReferenceBits(length, distance);
}

// Match finding: a hash chain links each position to the previous one with
// the same hashed context of chainContext bytes (3 or 4). With 4, a table of
// the nearest position of each hashed 3-byte context adds matches of length
// 3; a table of the nearest position of each byte pair adds those of length
// 2. The ring of links holds more positions than the window, so a link read
// for a position inside the window is still its own. Hashed tables of 4096
// entries suit a window of 1535 positions: with 8192 and 16384 entries and
// a direct pair table, insertion took 40 % of the time of level 2, for
// 0.1 % smaller output.
constexpr int kChainHashBits = 12;
constexpr int kTripleHashBits = 12;
constexpr std::size_t kChainEntries = 2048;
static_assert(kChainEntries > kMaxDistance + 1 && std::has_single_bit(kChainEntries));
constexpr std::int32_t kChainMask = static_cast<std::int32_t>(kChainEntries - 1);
constexpr std::int32_t kNoPosition = std::numeric_limits<std::int32_t>::min() / 2;  // never within the window

// The optimal parse settles the path once per chunk of positions; a
// reference is cut at the chunk's end (the next chunk picks the match up
// again), which costs at most a few bytes per chunk.
constexpr std::int32_t kOptimalChunk = 1 << 16;

enum class Parse { Greedy, Lazy, Optimal };

struct LevelSettings {
  Parse parse;
  std::int32_t chainDepth;    // chain links followed per search
  std::int32_t niceLength;    // a match this long ends the search and is taken
  std::int32_t chainContext;  // 3 or 4
  int pairBits;               // the table of pairs: 0 none, 16 one entry per pair, else hashed
};

// Levels 1 to 4. Levels 1 and 2 follow the chains alike. The greedy parse
// leaves the pairs out: a pair at a long distance saves one bit and would
// often stand in the way of a longer match one byte on (2 % larger output
// on text with them).
// Measured with bench/mariel_encode_bench.cpp (4 MiB of each, MiB/s of
// input on one core of the 2-core build machine, packed/unpacked size):
//   level    text-like       binary-like     random
//   1        86  0.292       81  0.561       46  1.125
//   2        50  0.291       53  0.545       38  1.122
//   3        10  0.265       22  0.542       35  1.122
//   4         7  0.265        7  0.542       57  1.122
constexpr LevelSettings kLevels[] = {
    {Parse::Greedy, 16, 64, 4, 0},
    {Parse::Lazy, 16, 64, 4, 12},
    {Parse::Optimal, 32, 128, 4, 12},
    // Every position of the window: the cheapest stream under the bit costs
    // but for the chunk ends and the matches taken at nice length.
    {Parse::Optimal, kMaxDistance, 1024, 3, 16},
};

struct Match {
  std::int32_t length;
  std::int32_t distance;  // 0: the zeros of the output block
};

// Length of the common prefix of a and b, at most limit bytes. Reads
// a[0, limit) and b[0, limit), nothing else; the two may overlap.
inline std::int32_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::int32_t limit) {
  std::int32_t length = 0;
  if constexpr (std::endian::native == std::endian::little) {
    while (limit - length >= 8) {
      std::uint64_t x;
      std::uint64_t y;
      std::memcpy(&x, a + length, 8);
      std::memcpy(&y, b + length, 8);
      if (x != y) return length + std::countr_zero(x ^ y) / 8;
      length += 8;
    }
  }
  while (length < limit && a[length] == b[length]) ++length;
  return length;
}

// Four bytes in host order, for equality tests only.
inline std::uint32_t Load32(const std::uint8_t* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

// Writes items into a buffer that holds the worst case (see the top).
class ItemWriter {
 public:
  explicit ItemWriter(std::uint8_t* out) : cursor_(out) {}

  void Literal(std::uint8_t byte) {
    NextItem(false);
    *cursor_++ = byte;
  }

  // REQUIRES: 2 <= length <= 65535, 0 <= distance <= 1535.
  void Reference(std::int32_t length, std::int32_t distance) {
    assert(length >= 2 && length <= kMaxLength && distance >= 0 && distance <= kMaxDistance);
    NextItem(true);
    const bool shortDistance = distance >= 1 && distance <= kShortDistanceMax;
    const unsigned distanceCode = shortDistance ? static_cast<unsigned>(distance - 1)
                                                : kFirstExtendedDistanceCode + static_cast<unsigned>(distance / 256);
    unsigned lengthCode = kLengthCodeTwoBytes;
    if (length <= kShortLengthMax) {
      lengthCode = static_cast<unsigned>(length - 1);
    } else if (length <= kOneByteLengthMax) {
      lengthCode = kLengthCodeOneByte;
    }
    *cursor_++ = static_cast<std::uint8_t>(lengthCode << 4 | distanceCode);
    if (lengthCode == kLengthCodeOneByte) {
      *cursor_++ = static_cast<std::uint8_t>(length);
    } else if (lengthCode == kLengthCodeTwoBytes) {
      WriteLe16(cursor_, static_cast<std::uint16_t>(length));
      cursor_ += 2;
    }
    if (!shortDistance) *cursor_++ = static_cast<std::uint8_t>(distance % 256);
  }

  // Completes the last flag word; returns the end of the stream.
  // The caller's buffer holds the worst case (see the top).
  std::uint8_t* Finish() {
    if (flagWord_ != nullptr) WriteLe32(flagWord_, flags_);
    return cursor_;
  }

 private:
  // A flag word is placed only when an item follows it, so the stream never
  // ends in an unused one.
  void NextItem(bool reference) {
    if (mask_ == 0) {
      if (flagWord_ != nullptr) WriteLe32(flagWord_, flags_);
      flagWord_ = cursor_;
      cursor_ += kFlagWordBytes;
      flags_ = 0;
      mask_ = kFirstFlagBit;
    }
    if (reference) flags_ |= mask_;
    mask_ >>= 1;
  }

  std::uint8_t* cursor_;
  std::uint8_t* flagWord_ = nullptr;
  std::uint32_t flags_ = 0;
  std::uint32_t mask_ = 0;
};

// State of one encoding: the input, its hash chains and the parse buffers.
class MarielEncoder {
 public:
  MarielEncoder(std::span<const std::uint8_t> data, const LevelSettings& settings)
      : data_(data.data()),
        size_(static_cast<std::int32_t>(data.size())),
        settings_(settings),
        chainHead_(std::size_t{1} << kChainHashBits, kNoPosition),
        prev_(kChainEntries, kNoPosition),
        tripleHead_(settings.chainContext == 4 ? std::size_t{1} << kTripleHashBits : 0, kNoPosition),
        pairHead_(settings.pairBits > 0 ? std::size_t{1} << settings.pairBits : 0, kNoPosition),
        found_(static_cast<std::size_t>(settings.chainDepth) + 3) {}

  // Writes the whole stream at out, which holds the worst case; returns its end.
  std::uint8_t* Encode(std::uint8_t* out) {
    ItemWriter writer(out);
    if (settings_.parse == Parse::Optimal) {
      ParseOptimal(writer);
    } else {
      ParseGreedyOrLazy(writer);
    }
    return writer.Finish();
  }

 private:
  static std::uint32_t Hash(std::uint32_t context, int bits) { return (context * 0x9E3779B1u) >> (32 - bits); }

  std::uint32_t PairHash(std::uint32_t firstTwo) const {
    return settings_.pairBits == 16 ? firstTwo : Hash(firstTwo, settings_.pairBits);
  }

  std::uint32_t ChainHash(std::uint32_t firstFour) const {
    return Hash(settings_.chainContext == 4 ? firstFour : firstFour & 0xFFFFFF, kChainHashBits);
  }

  // Adds position at to the tables. Positions are inserted in ascending
  // order, each at most once.
  void Insert(std::int32_t at) {
    if (size_ - at < 4) {
      InsertNearEnd(at);
      return;
    }
    const std::uint8_t* here = data_ + at;
    const std::uint32_t firstFour = ReadLe32(here);
    if (settings_.pairBits > 0) pairHead_[PairHash(firstFour & 0xFFFF)] = at;
    if (settings_.chainContext == 4) tripleHead_[Hash(firstFour & 0xFFFFFF, kTripleHashBits)] = at;
    std::int32_t& head = chainHead_[ChainHash(firstFour)];
    prev_[static_cast<std::size_t>(at & kChainMask)] = head;
    head = at;
  }

  // The last three positions: only the contexts that fit.
  void InsertNearEnd(std::int32_t at) {
    const std::int32_t left = size_ - at;
    const std::uint8_t* here = data_ + at;
    if (settings_.pairBits > 0 && left >= 2) pairHead_[PairHash(ReadLe16(here))] = at;
    if (left == 3) {
      const std::uint32_t firstThree = here[0] | static_cast<std::uint32_t>(here[1]) << 8 |
                                       static_cast<std::uint32_t>(here[2]) << 16;
      if (settings_.chainContext == 4) {
        tripleHead_[Hash(firstThree, kTripleHashBits)] = at;
      } else {
        std::int32_t& head = chainHead_[ChainHash(firstThree)];
        prev_[static_cast<std::size_t>(at & kChainMask)] = head;
        head = at;
      }
    }
  }

  // Inserts positions [from, to). Those more than a window before to are
  // skipped: no later search reaches them, and a chain that skips a
  // position stays sound.
  void InsertRange(std::int32_t from, std::int32_t to) {
    for (std::int32_t at = std::max(from, to - kMaxDistance); at < to; ++at) Insert(at);
  }

  // Number of zero bytes from position at on. REQUIRES: data_[at] == 0.
  // Amortised linear: the end of the run is remembered.
  std::int32_t ZeroRunFrom(std::int32_t at) {
    if (zeroRunEnd_ <= at) {
      zeroRunEnd_ = at;
      while (zeroRunEnd_ < size_ && data_[zeroRunEnd_] == 0) ++zeroRunEnd_;
    }
    return zeroRunEnd_ - at;
  }

  // Fills found_ with matches at position at, minLength to limit bytes
  // long, in strictly ascending length: each is the nearest found that is
  // longer than all before it, so their distances, and with them the costs
  // of the distance forms, do not fall (distance 0 comes last). The nearest
  // pair and the nearest 3-byte match come first: any longer match is at
  // least as far. (A hashed table may have lost the nearest to a collision;
  // the order then still holds for what is found.) Returns their number.
  // REQUIRES: 2 <= minLength, limit <= size_ - at and limit <= 65535;
  // positions before at inserted, at itself not.
  std::int32_t FindMatches(std::int32_t at, std::int32_t limit, std::int32_t minLength = 2) {
    if (limit < minLength) return 0;
    const std::uint8_t* here = data_ + at;
    const std::int32_t oldest = at - kMaxDistance;
    Match* found = found_.data();
    std::int32_t count = 0;
    std::int32_t longest = minLength - 1;
    auto consider = [&](std::int32_t candidate) {
      const std::int32_t length = MatchLength(here, data_ + candidate, limit);
      if (length > longest) {
        longest = length;
        found[count++] = {length, at - candidate};
      }
    };
    if (settings_.pairBits > 0 && longest < 2) {
      const std::int32_t candidate = pairHead_[PairHash(ReadLe16(here))];
      if (candidate >= oldest) consider(candidate);
    }
    if (settings_.chainContext == 4 && longest < 3 && limit >= 3) {
      const std::uint32_t firstThree = here[0] | static_cast<std::uint32_t>(here[1]) << 8 |
                                       static_cast<std::uint32_t>(here[2]) << 16;
      const std::int32_t candidate = tripleHead_[Hash(firstThree, kTripleHashBits)];
      if (candidate >= oldest) consider(candidate);
    }
    if (limit >= settings_.chainContext && longest < limit && longest < settings_.niceLength) {
      const std::uint32_t firstFour =
          settings_.chainContext == 4 ? ReadLe32(here)
                                      : here[0] | static_cast<std::uint32_t>(here[1]) << 8 |
                                            static_cast<std::uint32_t>(here[2]) << 16;
      std::int32_t candidate = chainHead_[ChainHash(firstFour)];
      for (std::int32_t steps = settings_.chainDepth; candidate >= oldest && steps > 0; --steps) {
        const std::uint8_t* there = data_ + candidate;
        // A candidate helps only if longer than the longest so far: test the
        // bytes that decide that first. longest < limit keeps them in bounds.
        if (there[longest] == here[longest] &&
            (longest < 3 || Load32(there + longest - 3) == Load32(here + longest - 3))) {
          const std::int32_t length = MatchLength(here, there, limit);
          if (length > longest) {
            longest = length;
            found[count++] = {length, at - candidate};
            if (length >= settings_.niceLength || length == limit) break;
          }
        }
        candidate = prev_[static_cast<std::size_t>(candidate & kChainMask)];
      }
    }
    // The block starts zero-filled and nothing at or after the current
    // position is written yet: distance 0 copies zeros, wherever the run is.
    if (here[0] == 0 && longest < limit) {
      const std::int32_t run = std::min(ZeroRunFrom(at), limit);
      if (run > longest) found[count++] = {run, 0};
    }
    return count;
  }

  // The match at position at that saves the most bits, among those of
  // minLength bytes or more; length 0 if none saves any.
  Match BestMatch(std::int32_t at, std::int32_t minLength = 2) {
    const std::int32_t count = FindMatches(at, std::min(kMaxLength, size_ - at), minLength);
    Match best{0, 0};
    std::int32_t bestGain = 0;
    for (std::int32_t i = 0; i < count; ++i) {
      const Match& match = found_[static_cast<std::size_t>(i)];
      const std::int32_t gain = Gain(match.length, match.distance);
      if (gain > bestGain) {
        best = match;
        bestGain = gain;
      }
    }
    return best;
  }

  // Greedy: the best match at each position. Lazy: before taking it, look
  // one position ahead, and write a literal instead when the match there
  // saves more.
  void ParseGreedyOrLazy(ItemWriter& writer) {
    const bool lazy = settings_.parse == Parse::Lazy;
    std::int32_t at = 0;
    while (at < size_) {
      Match match = BestMatch(at);
      Insert(at);
      if (match.length == 0) {
        writer.Literal(data_[at++]);
        continue;
      }
      while (lazy && match.length < settings_.niceLength && at + 1 < size_) {
        // A match two or more bytes shorter never saves more bits, even
        // across the thresholds of the length forms: search for longer ones.
        const Match next = BestMatch(at + 1, std::max(2, match.length - 1));
        if (Gain(next.length, next.distance) <= Gain(match.length, match.distance)) break;
        writer.Literal(data_[at++]);
        Insert(at);
        match = next;
      }
      writer.Reference(match.length, match.distance);
      InsertRange(at + 1, at + match.length);
      at += match.length;
    }
  }

  // The cheapest way found to reach a position: its last item.
  struct Step {
    std::uint32_t bits;
    std::uint16_t length;    // 1 with kLiteral
    std::uint16_t distance;  // kLiteral for a literal
  };
  static constexpr std::uint16_t kLiteral = 0xFFFF;

  void Relax(std::int32_t index, std::uint32_t bits, std::int32_t length, std::uint16_t distance) {
    Step& step = steps_[static_cast<std::size_t>(index)];
    if (bits < step.bits) step = {bits, static_cast<std::uint16_t>(length), distance};
  }

  // Forward dynamic programming over each chunk: the cheapest path to every
  // position from the literal and every match length of the candidates.
  // A candidate covers the lengths above the one before it, at the cheapest
  // distance class that reaches them. A match of nice length or more is
  // taken as it stands: the path is settled up to its end.
  void ParseOptimal(ItemWriter& writer) {
    steps_.resize(static_cast<std::size_t>(std::min(size_, kOptimalChunk)) + 1);
    std::int32_t start = 0;
    while (start < size_) {
      const std::int32_t chunkEnd = size_ - start > kOptimalChunk ? start + kOptimalChunk : size_;
      steps_[0] = {0, 0, 0};
      for (std::int32_t index = 1; index <= chunkEnd - start; ++index) {
        steps_[static_cast<std::size_t>(index)].bits = std::numeric_limits<std::uint32_t>::max();
      }
      std::int32_t end = chunkEnd;
      for (std::int32_t at = start; at < end; ++at) {
        const std::int32_t index = at - start;
        const std::uint32_t bits = steps_[static_cast<std::size_t>(index)].bits;
        Relax(index + 1, bits + kLiteralBits, 1, kLiteral);
        const std::int32_t count = FindMatches(at, std::min(kMaxLength, chunkEnd - at));
        Insert(at);
        if (count == 0) continue;
        const Match longest = found_[static_cast<std::size_t>(count - 1)];
        if (longest.length >= settings_.niceLength) {
          const auto referenceBits = static_cast<std::uint32_t>(ReferenceBits(longest.length, longest.distance));
          Relax(index + longest.length, bits + referenceBits, longest.length,
                static_cast<std::uint16_t>(longest.distance));
          end = at + longest.length;
          InsertRange(at + 1, end);
          break;
        }
        std::int32_t length = 2;
        for (std::int32_t i = 0; i < count; ++i) {
          const Match& match = found_[static_cast<std::size_t>(i)];
          const auto distance = static_cast<std::uint16_t>(match.distance);
          for (; length <= match.length; ++length) {
            Relax(index + length, bits + static_cast<std::uint32_t>(ReferenceBits(length, match.distance)), length,
                  distance);
          }
        }
      }
      WritePath(writer, start, end);
      start = end;
    }
  }

  // Writes the cheapest path from start to end.
  void WritePath(ItemWriter& writer, std::int32_t start, std::int32_t end) {
    path_.clear();
    for (std::int32_t at = end; at > start;) {
      const Step& step = steps_[static_cast<std::size_t>(at - start)];
      assert(step.length >= 1 && step.length <= at - start);
      path_.push_back(step);
      at -= step.length;
    }
    std::int32_t at = start;
    for (auto step = path_.rbegin(); step != path_.rend(); ++step) {
      if (step->distance == kLiteral) {
        writer.Literal(data_[at]);
      } else {
        writer.Reference(step->length, step->distance);
      }
      at += step->length;
    }
  }

  const std::uint8_t* data_;
  std::int32_t size_;
  LevelSettings settings_;
  std::vector<std::int32_t> chainHead_;
  std::vector<std::int32_t> prev_;
  std::vector<std::int32_t> tripleHead_;
  std::vector<std::int32_t> pairHead_;
  std::vector<Match> found_;
  std::vector<Step> steps_;
  std::vector<Step> path_;
  std::int32_t zeroRunEnd_ = 0;
};

}  // namespace

std::vector<std::uint8_t> EncodeMariel(std::span<const std::uint8_t> data, const MarielEncodeOptions& options) {
  if (data.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::length_error("Mariel entries hold at most 2^31 - 1 bytes");
  }
  if (data.empty()) return {};
  const int lastLevel = static_cast<int>(std::size(kLevels));
  const int level = std::clamp(options.level, 1, lastLevel);
  const std::size_t flagWords = (data.size() + kItemsPerFlagWord - 1) / kItemsPerFlagWord;
  std::vector<std::uint8_t> packed(data.size() + kFlagWordBytes * flagWords);
  MarielEncoder encoder(data, kLevels[level - 1]);
  const std::uint8_t* end = encoder.Encode(packed.data());
  packed.resize(static_cast<std::size_t>(end - packed.data()));
  return packed;
}
