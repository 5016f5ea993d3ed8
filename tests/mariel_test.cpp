// The Mariel decoder: hand-made streams with their exact reports, streams
// from the test-side writer, and hostile input.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "progress_recorder.h"
#include "mariel.h"
#include "result.h"
#include "spi.h"
#include "stream_writers.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The packed bytes and the output live in buffers of exactly their size, so
// that the sanitizer build catches any access beyond either.
struct Decoded {
  bool ok;
  Bytes output;
};

Decoded Unpack(const Bytes& packed, std::int32_t unpackedSize, ProgressReporter reporter) {
  Bytes input(packed);
  Bytes output(static_cast<std::size_t>(unpackedSize), 0);
  const bool ok = UnpackMariel(output.data(), input.data(), unpackedSize, static_cast<std::int32_t>(input.size()),
                               reporter);
  return {ok, output};
}


struct MarielCase {
  const char* what;
  Bytes packed;
  std::int32_t unpackedSize;
  bool ok;
  Bytes output;  // the whole output block afterwards
  Reports reports;
};

Bytes Literals(std::uint8_t first, int count) {
  Bytes bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(first + i));
  return bytes;
}

TEST(UnpackMariel, HandMadeStreams) {
  const Bytes abcCopy = {0x00, 0x00, 0x00, 0x10, 0x61, 0x62, 0x63, 0x52};  // 3 literals, length 6 distance 3
  const MarielCase cases[] = {
      {"overlapping copy", abcCopy, 9, true, {0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63}, {{4, 8}}},
      {"overshoot by one is cut", abcCopy, 8, true, {0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62}, {{4, 8}}},
      {"overshoot by two ends", abcCopy, 7, false, {0x61, 0x62, 0x63, 0, 0, 0, 0}, {{4, 8}}},
      {"item after the output is complete", {0x00, 0x00, 0x00, 0x40, 0x41, 0x00}, 1, false, {0x41}, {{4, 6}}},
      {"byte left over", Concat(abcCopy, {0x00}), 9, false, {0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63},
       {{4, 9}}},
      {"distance 0 yields zeros", {0x00, 0x00, 0x00, 0x80, 0x3A, 0x00}, 4, true, {0, 0, 0, 0}, {{4, 6}}},
      {"two-byte length", {0x00, 0x00, 0x00, 0x40, 0x41, 0xF0, 0x05, 0x00}, 6, true, Bytes(6, 0x41), {{4, 8}}},
      {"one-byte length", {0x00, 0x00, 0x00, 0x40, 0x41, 0xE0, 0x05}, 6, true, Bytes(6, 0x41), {{4, 7}}},
      {"length 0 copies nothing", {0x00, 0x00, 0x00, 0x40, 0x41, 0xE0, 0x00, 0x42}, 2, true, {0x41, 0x42}, {{4, 8}}},
      {"bit 18 and a distance byte", Concat(Concat({0x00, 0x00, 0x04, 0x00}, Literals(0x61, 13)), {0x1A, 0x0B}), 15,
       true, Concat(Literals(0x61, 13), {0x63, 0x64}), {{4, 19}}},
      {"second flag word",
       Concat(Concat(Concat({0, 0, 0, 0}, Literals(0x20, 32)), {0, 0, 0, 0}), {0x41}), 33, true,
       Concat(Literals(0x20, 32), {0x41}), {{4, 41}, {40, 41}}},
      {"empty, nothing wanted", {}, 0, true, {}, {}},
      {"empty, bytes wanted", {}, 3, false, {0, 0, 0}, {}},
      {"no room: copy cut to 0", {0x00, 0x00, 0x00, 0x80, 0x00}, 0, true, {}, {{4, 5}}},
      {"no room: literal", {0x00, 0x00, 0x00, 0x00, 0x41}, 0, false, {}, {{4, 5}}},
      {"no room: overshoot by two", {0x00, 0x00, 0x00, 0x80, 0x10}, 0, true, {}, {{4, 5}}},
      {"flag word cut", {0x00, 0x00}, 1, false, {0}, {}},
      {"flag word without items", {0x00, 0x00, 0x00, 0x00}, 1, false, {0}, {{4, 4}}},
      {"length byte missing", {0x00, 0x00, 0x00, 0x40, 0x41, 0xE0}, 6, false, {0x41, 0, 0, 0, 0, 0}, {{4, 6}}},
      {"length word cut", {0x00, 0x00, 0x00, 0x40, 0x41, 0xF0, 0x05}, 6, false, {0x41, 0, 0, 0, 0, 0}, {{4, 7}}},
      {"distance byte missing", {0x00, 0x00, 0x00, 0x80, 0x3A}, 4, false, {0, 0, 0, 0}, {{4, 5}}},
      {"copy from before the block", {0x00, 0x00, 0x00, 0x40, 0x41, 0x01}, 2, false, {0x41, 0}, {{4, 6}}},
      {"long distance from before the block", {0x00, 0x00, 0x00, 0x40, 0x41, 0x0A, 0x02}, 2, false, {0x41, 0},
       {{4, 7}}},
      {"cut copy from before the block", {0x00, 0x00, 0x00, 0x40, 0x41, 0x11}, 2, false, {0x41, 0}, {{4, 6}}},
      {"empty copy from before the block", {0x00, 0x00, 0x00, 0x40, 0x41, 0xE1, 0x00, 0x42}, 2, true, {0x41, 0x42},
       {{4, 8}}},
  };
  for (const MarielCase& c : cases) {
    const Decoded decoded = Unpack(c.packed, c.unpackedSize, Reporter());
    EXPECT_EQ(decoded.ok, c.ok) << c.what;
    EXPECT_EQ(decoded.output, c.output) << c.what;
    EXPECT_EQ(recorder.reports, c.reports) << c.what;
  }
}

TEST(UnpackMariel, NegativeSizesFail) {
  const Bytes packed = {0x00, 0x00, 0x00, 0x80, 0xE0, 0x00, 0x00};  // one empty copy
  std::uint8_t output[1] = {};
  EXPECT_FALSE(UnpackMariel(output, packed.data(), -1, static_cast<std::int32_t>(packed.size()), Reporter()));
  EXPECT_FALSE(UnpackMariel(output, packed.data(), 0, -1, Reporter()));
}

TEST(UnpackMariel, AbortAtFirstReportWritesNothing) {
  const Bytes packed = {0x00, 0x00, 0x00, 0x10, 0x61, 0x62, 0x63, 0x52};
  Bytes output(9, 0);
  try {
    UnpackMariel(output.data(), packed.data(), 9, 8, Reporter(1));
    FAIL() << "no exception";
  } catch (const ESpiError& error) {
    EXPECT_EQ(error.code, Aborted);
  }
  EXPECT_EQ(output, Bytes(9, 0));
  EXPECT_EQ(recorder.reports, (Reports{{4, 8}}));
}

TEST(CopyBackReference, CopiesForwardByteByByte) {
  std::uint8_t bytes[10] = {1, 2, 3, 0, 0, 0, 0, 0, 0, 9};
  CopyBackReference(bytes + 3, 2, 6);  // repeats the last two bytes
  EXPECT_EQ(Bytes(bytes, bytes + 10), (Bytes{1, 2, 3, 2, 3, 2, 3, 2, 3, 9}));
  CopyBackReference(bytes + 1, 0, 3);  // onto itself
  CopyBackReference(bytes + 1, 1, 0);
  CopyBackReference(bytes + 1, 1, -5);
  EXPECT_EQ(Bytes(bytes, bytes + 10), (Bytes{1, 2, 3, 2, 3, 2, 3, 2, 3, 9}));
}

// A stream of every item form: literals, short and extended lengths and
// distances, the longest distance, the longest length, distance 0 and
// copies of length 0.
MarielWriter MixedStream(std::uint64_t seed, int items) {
  std::uint64_t state = seed;
  MarielWriter writer;
  using Form = MarielWriter::LengthForm;
  for (int i = 0; i < items; ++i) {
    const std::int32_t produced = static_cast<std::int32_t>(writer.Output().size());
    const int kind = RandomBelow(state, 10);
    if (produced == 0 || kind < 4) {
      writer.Literal(static_cast<std::uint8_t>(NextRandom(state)));
    } else if (kind < 7) {
      writer.Copy(1 + RandomBelow(state, std::min(produced, 10)), 1 + RandomBelow(state, 14));
    } else if (kind == 7) {
      const Form form = RandomBelow(state, 2) == 0 ? Form::OneByte : Form::TwoBytes;
      writer.Copy(1 + RandomBelow(state, std::min(produced, 1535)), RandomBelow(state, 256), form, true);
    } else if (kind == 8) {
      writer.Copy(std::min(produced, 1535), 1 + RandomBelow(state, 600));
    } else {
      writer.Copy(0, RandomBelow(state, 20));
    }
  }
  writer.Copy(1, 65535, Form::TwoBytes);
  writer.Literal(0x7E);  // every proper prefix of the stream now falls short
  return writer;
}

TEST(UnpackMariel, WriterStreamsDecodeExactly) {
  for (std::uint64_t seed = 1; seed <= 20; ++seed) {
    const MarielWriter writer = MixedStream(seed, 50 * static_cast<int>(seed));
    const Bytes& packed = writer.Bytes();
    const std::int32_t packedSize = static_cast<std::int32_t>(packed.size());
    const Decoded decoded = Unpack(packed, static_cast<std::int32_t>(writer.Output().size()), Reporter());
    ASSERT_TRUE(decoded.ok) << seed;
    ASSERT_EQ(decoded.output, writer.Output()) << seed;
    // One report per flag word, each below the total and rising.
    ASSERT_FALSE(recorder.reports.empty());
    EXPECT_EQ(recorder.reports.front(), (std::pair<std::int32_t, std::int32_t>{4, packedSize}));
    for (std::size_t i = 1; i < recorder.reports.size(); ++i) {
      EXPECT_GT(recorder.reports[i].first, recorder.reports[i - 1].first + 4);
      EXPECT_LT(recorder.reports[i].first, packedSize);
    }
  }
}

// Hostile input: these check only that the decoder stays inside its buffers
// (the sanitizer build) and gives a plain answer.

TEST(UnpackMarielHostile, EveryTruncationFails) {
  const MarielWriter writer = MixedStream(99, 300);
  const Bytes& packed = writer.Bytes();
  const std::int32_t unpackedSize = static_cast<std::int32_t>(writer.Output().size());
  for (std::size_t length = 0; length < packed.size(); ++length) {
    const Decoded decoded = Unpack(Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length)),
                                   unpackedSize, ProgressReporter{});
    ASSERT_FALSE(decoded.ok) << length;
  }
}

TEST(UnpackMarielHostile, RandomAndMutatedStreams) {
  std::uint64_t state = 7;
  for (int round = 0; round < 3000; ++round) {
    Bytes packed(static_cast<std::size_t>(RandomBelow(state, 200)));
    for (std::uint8_t& byte : packed) byte = static_cast<std::uint8_t>(NextRandom(state));
    const Decoded decoded = Unpack(packed, RandomBelow(state, 400), ProgressReporter{});
    (void)decoded;
  }
  const MarielWriter writer = MixedStream(5, 200);
  const std::int32_t unpackedSize = static_cast<std::int32_t>(writer.Output().size());
  for (int round = 0; round < 1000; ++round) {
    Bytes packed = writer.Bytes();
    for (int flips = 1 + RandomBelow(state, 3); flips > 0; --flips) {
      packed[static_cast<std::size_t>(RandomBelow(state, static_cast<std::int32_t>(packed.size())))] ^=
          static_cast<std::uint8_t>(1 + RandomBelow(state, 255));
    }
    const Decoded decoded = Unpack(packed, unpackedSize + RandomBelow(state, 3) - 1, ProgressReporter{});
    (void)decoded;
  }
}

}  // namespace
