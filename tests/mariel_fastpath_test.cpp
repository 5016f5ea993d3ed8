// UnpackMariel (wide literal runs and chunked copies, unchecked reads while a
// whole group's worth of packed bytes remains) against UnpackMarielPlain
// (one byte at a time, every read checked): the same answer, the same
// exception and the same progress reports on well-formed, truncated, mutated
// and random streams, and the same output block, byte for byte, whenever the
// decoding succeeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "mariel.h"
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

enum class Answer { False, True, Aborted };

struct Run {
  Answer answer;
  Reports reports;
  Bytes output;  // the whole block afterwards
};

using Decoder = bool (*)(std::uint8_t*, const std::uint8_t*, std::int32_t, std::int32_t, ProgressReporter);

// Decodes a copy of packed sized exactly (so that the sanitizer build sees
// any read past it) into a zero-filled block of exactly unpackedSize bytes
// (any write past it too), with a recording callback that asks to stop at
// call abortAtCall (0: never).
Run Decode(Decoder decoder, const Bytes& packed, std::int32_t unpackedSize, int abortAtCall = 0) {
  const Bytes input(packed);
  Bytes output(static_cast<std::size_t>(std::max(unpackedSize, 0)), 0);
  Run run{Answer::False, {}, {}};
  try {
    run.answer = decoder(output.data(), input.empty() ? nullptr : input.data(), unpackedSize,
                         static_cast<std::int32_t>(input.size()), Reporter(abortAtCall))
                     ? Answer::True
                     : Answer::False;
  } catch (const ESpiError& error) {
    EXPECT_EQ(error.code, Aborted);
    run.answer = Answer::Aborted;
  }
  run.reports = recorder.reports;
  run.output = std::move(output);
  return run;
}

// Both decoders on one input; returns the fast path's answer.
Answer ExpectSame(const Bytes& packed, std::int32_t unpackedSize, const std::string& what, int abortAtCall = 0) {
  const Run plain = Decode(UnpackMarielPlain, packed, unpackedSize, abortAtCall);
  const Run fast = Decode(UnpackMariel, packed, unpackedSize, abortAtCall);
  EXPECT_EQ(fast.answer, plain.answer) << what;
  EXPECT_EQ(fast.reports, plain.reports) << what;
  // A failed or stopped decoding leaves stores past its last item in the
  // block, which the caller discards; a complete one must match exactly.
  if (plain.answer == Answer::True) {
    EXPECT_TRUE(fast.output == plain.output) << what;
  }
  return fast.answer;
}

// Back-references of every copy regime of the fast path: distance 0, 1, the
// overlapping 2..7, 8..15 and 16 and above; lengths on both sides of 4, 8,
// 16 and 32, long ones, and 0; literal runs of 1 to 40, so that runs cross
// flag words and fill whole groups.
MarielWriter RegimeStream(std::uint64_t seed, int items) {
  using Form = MarielWriter::LengthForm;
  static const std::int32_t kDistances[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 15, 16, 17, 31, 32, 33, 100, 1535};
  static const std::int32_t kLengths[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 13, 15, 16, 17, 24, 31, 32, 33, 64, 255, 300, 4000};
  std::uint64_t state = seed;
  MarielWriter writer;
  for (int i = 0; i < items; ++i) {
    const std::int32_t produced = static_cast<std::int32_t>(writer.Output().size());
    if (produced == 0 || RandomBelow(state, 3) == 0) {
      for (std::int32_t n = 1 + RandomBelow(state, 40); n > 0; --n) {
        writer.Literal(static_cast<std::uint8_t>(NextRandom(state)));
      }
      continue;
    }
    std::int32_t distance = kDistances[RandomBelow(state, static_cast<std::int32_t>(std::size(kDistances)))];
    distance = std::min(distance, produced);
    const std::int32_t length = kLengths[RandomBelow(state, static_cast<std::int32_t>(std::size(kLengths)))];
    const Form form = length > 255 ? Form::TwoBytes : static_cast<Form>(RandomBelow(state, 3));
    if (form == Form::Shortest && (length == 0 || length > 14)) {
      writer.Copy(distance, length);
    } else {
      writer.Copy(distance, length, form, RandomBelow(state, 2) == 0);
    }
  }
  // Items of length 0 after the output is complete would leave bytes unread.
  writer.Literal(0x5A);
  return writer;
}

TEST(MarielFastPath, RegimeStreamsMatchThePlainDecoder) {
  for (std::uint64_t seed = 1; seed <= 60; ++seed) {
    const MarielWriter writer = RegimeStream(seed, 20 + 10 * static_cast<int>(seed));
    const std::int32_t unpackedSize = static_cast<std::int32_t>(writer.Output().size());
    ASSERT_EQ(ExpectSame(writer.Bytes(), unpackedSize, Label("seed %lld", seed)), Answer::True) << seed;
    // The overshoot by one and by two, and a block one byte too large.
    for (std::int32_t delta : {-2, -1, 1}) {
      ExpectSame(writer.Bytes(), unpackedSize + delta, Label("seed %lld delta %lld", seed, delta));
    }
  }
}

// Mostly literal data and data of text-like copies, as the corpus holds.
TEST(MarielFastPath, CorpusLikeStreamsMatchThePlainDecoder) {
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const Bytes data = seed % 2 == 0 ? WordSoup(seed, 20000) : BinaryLike(seed, 20000);
    // Greedy matches in the last 64 bytes, one in eight of them left as
    // literals.
    std::uint64_t state = seed;
    const MarielWriter writer = GreedyMarielStream(data, [&] { return RandomBelow(state, 8) != 0; });
    ASSERT_TRUE(writer.Output() == data);
    EXPECT_EQ(ExpectSame(writer.Bytes(), static_cast<std::int32_t>(data.size()), Label("seed %lld", seed)),
              Answer::True);
  }
}

TEST(MarielFastPath, TruncationsAndAbortsMatchThePlainDecoder) {
  const MarielWriter writer = RegimeStream(77, 120);
  const Bytes& packed = writer.Bytes();
  const std::int32_t unpackedSize = static_cast<std::int32_t>(writer.Output().size());
  for (std::size_t length = 0; length <= packed.size(); ++length) {
    const Bytes cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length));
    ExpectSame(cut, unpackedSize, Label("length %lld", length));
  }
  for (int abortAtCall = 1; abortAtCall <= 8; ++abortAtCall) {
    EXPECT_EQ(ExpectSame(packed, unpackedSize, Label("abort %lld", abortAtCall), abortAtCall), Answer::Aborted);
  }
}

TEST(MarielFastPath, HostileStreamsMatchThePlainDecoder) {
  std::uint64_t state = 1234;
  // Random bytes: flag words of every pattern, distances before the block,
  // overshoots of every size.
  for (int round = 0; round < 3000; ++round) {
    const Bytes packed = RandomBytes(NextRandom(state), static_cast<std::size_t>(RandomBelow(state, 400)));
    ExpectSame(packed, RandomBelow(state, 3) == 0 ? 0 : RandomBelow(state, 2000), Label("random %lld", round));
  }
  // Mutated well-formed streams, with the block size off by -1..1.
  const MarielWriter writer = RegimeStream(5, 150);
  const std::int32_t unpackedSize = static_cast<std::int32_t>(writer.Output().size());
  for (int round = 0; round < 1500; ++round) {
    Bytes packed = writer.Bytes();
    for (int flips = 1 + RandomBelow(state, 3); flips > 0; --flips) {
      packed[static_cast<std::size_t>(RandomBelow(state, static_cast<std::int32_t>(packed.size())))] ^=
          static_cast<std::uint8_t>(1 + RandomBelow(state, 255));
    }
    ExpectSame(packed, unpackedSize + RandomBelow(state, 3) - 1, Label("mutated %lld", round));
  }
}

// Edge sizes: the first flag word, each item at the end of the packed data,
// and unpackedSize 0 (a literal first fails, an overshoot by one is cut to
// nothing, by two ends the decoding).
TEST(MarielFastPath, EdgeStreamsMatchThePlainDecoder) {
  const std::vector<std::pair<Bytes, std::int32_t>> cases = {
      {{}, 0},
      {{}, 3},
      {{0x00, 0x00}, 1},
      {{0x00, 0x00, 0x00, 0x80, 0x00}, 0},
      {{0x00, 0x00, 0x00, 0x00, 0x41}, 0},
      {{0x00, 0x00, 0x00, 0x80, 0x10}, 0},
      {{0x00, 0x00, 0x00, 0x10, 0x61, 0x62, 0x63, 0x52}, 7},
      {{0x00, 0x00, 0x00, 0x10, 0x61, 0x62, 0x63, 0x52}, 8},
      {{0x00, 0x00, 0x00, 0x10, 0x61, 0x62, 0x63, 0x52}, 9},
      {{0x00, 0x00, 0x00, 0x80, 0x3A, 0x00}, 4},
      {{0x00, 0x00, 0x00, 0x40, 0x41, 0xF0, 0x05, 0x00}, 6},
      {{0x00, 0x00, 0x00, 0x40, 0x41, 0xF0, 0x05}, 6},
      {{0x00, 0x00, 0x00, 0x40, 0x41, 0xE0}, 6},
      {{0x00, 0x00, 0x00, 0x40, 0x41, 0xEA, 0x05}, 6},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) ExpectSame(cases[i].first, cases[i].second, Label("case %lld", i));
  // Groups of 32 literals, then a long run at distance 1..9, so that the
  // fast path meets the end of the output inside a copy and inside a run.
  for (std::int32_t distance = 1; distance <= 9; ++distance) {
    MarielWriter writer;
    for (int i = 0; i < 200; ++i) writer.Literal(static_cast<std::uint8_t>(i * 7));
    writer.Copy(distance, 1000);
    for (int i = 0; i < 200; ++i) writer.Literal(static_cast<std::uint8_t>(i * 3));
    const std::int32_t unpackedSize = static_cast<std::int32_t>(writer.Output().size());
    for (std::int32_t size : {unpackedSize, unpackedSize - 1, unpackedSize - 100, 1100, 1201, 1202, 150}) {
      ExpectSame(writer.Bytes(), size, Label("distance %lld size %lld", distance, size));
    }
  }
}

}  // namespace
