// The Mariel encoder: round trips through the decoder at every level, exact
// streams where the cheapest one is known, the size bound for data that
// does not compress, and the order of the levels on compressible data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"
#include "mariel.h"
#include "mariel_encoder.h"
#include "stream_writers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kLevels[] = {1, 2, 3, 4};

// The stream of literals only: every byte and one flag word per 32.
std::size_t LiteralStreamBytes(std::size_t size) { return size + 4 * ((size + 31) / 32); }

// Encodes data and decodes it back with the packed bytes and the zero-filled
// output in buffers of exactly their sizes, so that the sanitizer build
// catches any access beyond either. Checks the size bound as well.
testing::AssertionResult RoundTrips(const Bytes& data, int level, Bytes* packedOut = nullptr) {
  const Bytes packed = EncodeMariel(data, {level});
  if (packed.size() > LiteralStreamBytes(data.size())) {
    return testing::AssertionFailure() << "level " << level << ": " << packed.size() << " bytes for " << data.size();
  }
  Bytes output(data.size(), 0);
  if (!UnpackMariel(output.data(), packed.data(), static_cast<std::int32_t>(data.size()),
                    static_cast<std::int32_t>(packed.size()), ProgressReporter{})) {
    return testing::AssertionFailure() << "level " << level << ": the decoder refuses the stream";
  }
  if (output != data) return testing::AssertionFailure() << "level " << level << ": other bytes decoded";
  if (packedOut != nullptr) *packedOut = packed;
  return testing::AssertionSuccess();
}

Bytes Repeat(const Bytes& unit, std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = unit[i % unit.size()];
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// 'A', 'B', ...: count distinct bytes.
Bytes Letters(int count) {
  Bytes bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>('A' + i));
  return bytes;
}

// Text with zero runs and long runs between, so that references of every
// length form, distance 0 and the chunk ends of the optimal parse meet.
Bytes Patchwork(std::uint64_t seed, std::size_t size) {
  std::uint64_t state = seed;
  auto below = [&state](std::int32_t bound) { return static_cast<std::size_t>(RandomBelow(state, bound)); };
  Bytes bytes;
  while (bytes.size() < size) {
    switch (below(5)) {
      case 0:
        bytes = Concat(std::move(bytes), WordSoup(NextRandom(state), below(3000)));
        break;
      case 1:
        bytes.resize(bytes.size() + below(70000), 0);
        break;
      case 2:
        bytes.resize(bytes.size() + below(300), static_cast<std::uint8_t>(NextRandom(state)));
        break;
      case 3:
        bytes = Concat(std::move(bytes), RandomBytes(NextRandom(state), below(2000)));
        break;
      default:
        bytes = Concat(std::move(bytes), BinaryLike(NextRandom(state), below(5000)));
        break;
    }
  }
  bytes.resize(size);
  return bytes;
}

struct DataCase {
  std::string what;
  Bytes data;
};

std::vector<DataCase> DataCases() {
  std::vector<DataCase> cases = {
      {"empty", {}},
      {"one byte", {0x41}},
      {"one zero", {0}},
      {"zeros, longer than the longest reference", Bytes(200000, 0)},
      {"zeros after a byte", Concat({0x78}, Bytes(70000, 0))},
      {"one byte repeated, longer than the longest reference", Bytes(140000, 0xAB)},
      {"text", WordSoup(1, 300000)},
      {"binary", BinaryLike(2, 300000)},
      {"random", RandomBytes(3, 100000)},
      {"patchwork", Patchwork(4, 600000)},
  };
  for (std::size_t period : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 255, 256, 1534,
                             1535, 1536, 1537}) {
    cases.push_back({"period " + std::to_string(period), Repeat(RandomBytes(period, period), 3 * period + 5000)});
  }
  return cases;
}

TEST(EncodeMariel, RoundTripsEveryKindOfData) {
  for (const DataCase& c : DataCases()) {
    for (int level : kLevels) EXPECT_TRUE(RoundTrips(c.data, level)) << c.what;
  }
}

TEST(EncodeMariel, RoundTripsEverySizeUpTo100) {
  const std::vector<DataCase> sources = {
      {"zeros", Bytes(100, 0)},
      {"one byte repeated", Bytes(100, 'a')},
      {"period 3", Repeat({'a', 'b', 0}, 100)},
      {"text", WordSoup(5, 100)},
      {"binary", BinaryLike(6, 100)},
      {"random", RandomBytes(7, 100)},
  };
  for (const DataCase& source : sources) {
    for (std::size_t size = 0; size <= source.data.size(); ++size) {
      const Bytes data(source.data.begin(), source.data.begin() + static_cast<std::ptrdiff_t>(size));
      for (int level : kLevels) ASSERT_TRUE(RoundTrips(data, level)) << source.what << ", " << size << " bytes";
    }
  }
}

TEST(EncodeMariel, RoundTripsMegabytes) {
  const std::vector<DataCase> cases = {
      {"text", WordSoup(8, 2 << 20)},
      {"patchwork", Patchwork(9, 2 << 20)},
  };
  for (const DataCase& c : cases) {
    for (int level : kLevels) EXPECT_TRUE(RoundTrips(c.data, level)) << c.what;
  }
}

// 3000 random bytes, then a copy of 300 of them from the given distance:
// one reference at 1535, out of reach at 1536.
TEST(EncodeMariel, ReachesTheWholeWindowAndNoFurther) {
  for (std::size_t distance : {1535, 1536}) {
    Bytes data = RandomBytes(10, 3000);
    const auto from = static_cast<std::ptrdiff_t>(data.size() - distance);
    data.insert(data.end(), data.begin() + from, data.begin() + from + 300);
    for (int level : kLevels) {
      Bytes packed;
      ASSERT_TRUE(RoundTrips(data, level, &packed)) << distance;
      if (distance <= 1535) {
        EXPECT_LE(packed.size(), LiteralStreamBytes(3000) + 8) << "level " << level;
      } else {
        EXPECT_GT(packed.size(), LiteralStreamBytes(3000) + 250) << "level " << level;
      }
    }
  }
}

// Inputs whose cheapest stream is plain to see; every level must find it.
TEST(EncodeMariel, WritesTheCheapestKnownStreams) {
  struct Case {
    const char* what;
    Bytes data;
    Bytes packed;
  };
  const Case cases[] = {
      {"nothing", {}, {}},
      {"one literal", {0x41}, {0x00, 0x00, 0x00, 0x00, 0x41}},
      {"overlapping copy", {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'},
       {0x00, 0x00, 0x00, 0x10, 'a', 'b', 'c', 0x52}},  // length 6, distance 3
      {"zeros from the start: distance 0", Bytes(4, 0), {0x00, 0x00, 0x00, 0x80, 0x3A, 0x00}},
      {"zeros after a byte: distance 0 and a length byte", Concat({'x'}, Bytes(200, 0)),
       {0x00, 0x00, 0x00, 0x40, 'x', 0xEA, 200, 0x00}},
      {"length 14 fits the token", Bytes(15, 'a'), {0x00, 0x00, 0x00, 0x40, 'a', 0xD0}},
      {"length 15 takes a byte", Bytes(16, 'a'), {0x00, 0x00, 0x00, 0x40, 'a', 0xE0, 15}},
      {"length 255 takes a byte", Bytes(256, 'a'), {0x00, 0x00, 0x00, 0x40, 'a', 0xE0, 0xFF}},
      {"length 256 takes two", Bytes(257, 'a'), {0x00, 0x00, 0x00, 0x40, 'a', 0xF0, 0x00, 0x01}},
      {"the longest reference, then a short one", Bytes(65535 + 65535 + 3, 0),
       {0x00, 0x00, 0x00, 0xE0, 0xFA, 0xFF, 0xFF, 0x00, 0xF0, 0xFF, 0xFF, 0x20}},
      {"distance 10 fits the token", Concat(Letters(10), Letters(4)),
       Concat(Concat({0x00, 0x00, 0x20, 0x00}, Letters(10)), {0x39})},  // bit 21: the 11th item
      {"distance 11 takes a byte", Concat(Letters(11), Letters(4)),
       Concat(Concat({0x00, 0x00, 0x10, 0x00}, Letters(11)), {0x3A, 11})},  // bit 20: the 12th item
      {"32 literals fill one flag word", Letters(32), Concat({0x00, 0x00, 0x00, 0x00}, Letters(32))},
  };
  for (const Case& c : cases) {
    for (int level : kLevels) {
      Bytes packed;
      ASSERT_TRUE(RoundTrips(c.data, level, &packed)) << c.what;
      EXPECT_EQ(packed, c.packed) << c.what << ", level " << level;
    }
  }
}

// Data without a single repeated byte pair: literals only, and a flag word
// only where an item follows it. Random data holds a few short matches
// (a pair at a long distance saves one flag bit) but never costs more than
// literals.
TEST(EncodeMariel, IncompressibleDataCostsNoMoreThanLiterals) {
  Bytes distinct(256);
  for (std::size_t i = 0; i < distinct.size(); ++i) distinct[i] = static_cast<std::uint8_t>(255 - i);
  for (std::size_t size = 0; size <= distinct.size(); ++size) {
    const Bytes data(distinct.begin(), distinct.begin() + static_cast<std::ptrdiff_t>(size));
    for (int level : kLevels) {
      Bytes packed;
      ASSERT_TRUE(RoundTrips(data, level, &packed)) << size;
      ASSERT_EQ(packed.size(), LiteralStreamBytes(size)) << size << " bytes, level " << level;
    }
  }
  const Bytes random = RandomBytes(12, 1 << 20);
  for (int level : kLevels) EXPECT_TRUE(RoundTrips(random, level));
}

// Each level packs compressible data smaller than the one below; on text
// the optimal parse gains at least 5 % over the greedy one.
TEST(EncodeMariel, HigherLevelsPackSmaller) {
  const std::vector<DataCase> cases = {
      {"text", WordSoup(13, 512 << 10)},
      {"binary", BinaryLike(14, 512 << 10)},
  };
  for (const DataCase& c : cases) {
    std::size_t sizes[std::size(kLevels)];
    for (std::size_t i = 0; i < std::size(kLevels); ++i) {
      Bytes packed;
      ASSERT_TRUE(RoundTrips(c.data, kLevels[i], &packed)) << c.what;
      sizes[i] = packed.size();
    }
    for (std::size_t i = 1; i < std::size(kLevels); ++i) {
      EXPECT_LT(sizes[i], sizes[i - 1]) << c.what << ", level " << kLevels[i];
    }
    if (c.what == "text") {
      EXPECT_LT(sizes[2] * 100, sizes[0] * 95) << "level 3 against level 1";
    }
  }
}

// Bits of a stream as the parses price it: 8 per byte but the flag words',
// and one per item. REQUIRES: packed decodes to unpackedSize bytes.
std::int64_t StreamBits(const Bytes& packed, std::size_t unpackedSize) {
  std::size_t at = 0;
  std::size_t produced = 0;
  std::int64_t items = 0;
  std::int64_t flagWords = 0;
  std::uint32_t flags = 0;
  std::uint32_t mask = 0;
  while (produced < unpackedSize) {
    if (mask == 0) {
      flags = ReadLe32(packed.data() + at);
      at += 4;
      ++flagWords;
      mask = 0x80000000u;
    }
    const unsigned byte = packed[at++];
    std::size_t length = 1;
    if ((flags & mask) != 0) {
      length = (byte >> 4) + 1;
      if (byte >> 4 == 14) length = packed[at++];
      if (byte >> 4 == 15) {
        length = ReadLe16(packed.data() + at);
        at += 2;
      }
      if ((byte & 0x0F) >= 10) ++at;
    }
    produced += length;
    mask >>= 1;
    ++items;
  }
  return 8 * (static_cast<std::int64_t>(packed.size()) - 4 * flagWords) + items;
}

// The fewest bits of any stream that decodes to data, from every literal
// and every reference of length 2 or more at every distance 0 to 1535.
// Quadratic in the window: for small inputs only.
std::int64_t CheapestStreamBits(const Bytes& data) {
  const std::size_t size = data.size();
  std::vector<std::int64_t> best(size + 1, INT64_MAX);
  best[0] = 0;
  auto relax = [&](std::size_t to, std::int64_t bits) { best[to] = std::min(best[to], bits); };
  for (std::size_t at = 0; at < size; ++at) {
    relax(at + 1, best[at] + 9);
    for (std::size_t distance = 0; distance <= std::min<std::size_t>(at, 1535); ++distance) {
      std::size_t length = 0;
      const std::size_t limit = std::min<std::size_t>(size - at, 65535);
      while (length < limit && data[at + length] == (distance == 0 ? 0 : data[at + length - distance])) ++length;
      for (std::size_t l = 2; l <= length; ++l) {
        const int bytes = 1 + (l > 14) + (l > 255) + (distance == 0 || distance > 10);
        relax(at + l, best[at] + 8 * bytes + 1);
      }
    }
  }
  return best[size];
}

// Level 4 searches every position of the window: on inputs of one chunk
// and without very long matches it writes a cheapest stream.
TEST(EncodeMariel, Level4FindsTheCheapestStream) {
  const std::vector<DataCase> cases = {
      {"text", WordSoup(16, 4000)},
      {"binary", BinaryLike(17, 4000)},
      {"mixed", Concat(Concat(Concat(WordSoup(18, 1500), Bytes(300, 0)), Concat(BinaryLike(19, 1500), Bytes(200, 'x'))),
                       Concat(RandomBytes(20, 500), Repeat({'a', 'b', 'c'}, 100)))},
  };
  for (const DataCase& c : cases) {
    Bytes packed;
    ASSERT_TRUE(RoundTrips(c.data, 4, &packed)) << c.what;
    EXPECT_EQ(StreamBits(packed, c.data.size()), CheapestStreamBits(c.data)) << c.what;
  }
}

TEST(EncodeMariel, LevelsOutsideTheRangeAreClamped) {
  const Bytes text = WordSoup(15, 20000);
  EXPECT_EQ(EncodeMariel(text, {0}), EncodeMariel(text, {1}));
  EXPECT_EQ(EncodeMariel(text, {-7}), EncodeMariel(text, {1}));
  EXPECT_EQ(EncodeMariel(text, {99}), EncodeMariel(text, {4}));
}

}  // namespace
