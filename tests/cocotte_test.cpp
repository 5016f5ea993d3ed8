// The Cocotte stages: frequency model, range decoder, move-to-front and
// inverse transform, and the block decoder over hand-made and writer-built
// streams, plus hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "progress_recorder.h"
#include "cocotte/cocotte_decoder.h"
#include "cocotte/frequency_model.h"
#include "result.h"
#include "spi.h"
#include "stream_writers.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }

// ---------------------------------------------------------------------------
// Frequency model

// Owns a model built with the Cocotte parameters.
struct Model {
  Model() { InitModel(&model, kCocotteSymbols, kCocotteLgTotal, kCocotteRescaleLimit, InitialFrequencies); }
  ~Model() { FreeModel(&model); }
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;
  Bytes CumFreqBytes() const {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(model.cumFreq);
    return Bytes(bytes, bytes + (kCocotteSymbols + 1) * sizeof(std::uint16_t));
  }
  FrequencyModel model;
};

void ExpectSameModel(const FrequencyModel& a, const FrequencyModel& b) {
  EXPECT_EQ(a.symbols, b.symbols);
  EXPECT_EQ(a.left, b.left);
  EXPECT_EQ(a.nextLeft, b.nextLeft);
  EXPECT_EQ(a.rescale, b.rescale);
  EXPECT_EQ(a.rescaleLimit, b.rescaleLimit);
  EXPECT_EQ(a.increment, b.increment);
  EXPECT_EQ(a.searchShift, b.searchShift);
  const std::size_t entries = static_cast<std::size_t>(a.symbols) + 1;
  EXPECT_TRUE(std::equal(a.cumFreq, a.cumFreq + entries, b.cumFreq));
  EXPECT_TRUE(std::equal(a.newFreq, a.newFreq + entries - 1, b.newFreq));
  EXPECT_TRUE(std::equal(a.searchTable, a.searchTable + kSearchTableEntries, b.searchTable));
}

TEST(FrequencyModel, InitialFrequencies) {
  struct Run {
    int first, last, frequency;
  };
  const Run runs[] = {{0, 0, 1400},  {1, 1, 640},   {2, 2, 320},   {3, 3, 240},    {4, 4, 160},   {5, 5, 120},
                      {6, 6, 80},    {7, 7, 64},    {8, 8, 48},    {9, 9, 40},     {10, 10, 32},  {11, 11, 24},
                      {12, 15, 20},  {16, 19, 16},  {20, 25, 12},  {26, 31, 8},    {32, 47, 6},   {48, 63, 5},
                      {64, 95, 4},   {96, 133, 3},  {134, 256, 2}};
  int total = 0;
  for (const Run& run : runs) {
    for (int s = run.first; s <= run.last; ++s) {
      EXPECT_EQ(InitialFrequencies[s], run.frequency) << s;
      total += InitialFrequencies[s];
    }
  }
  EXPECT_EQ(total, 4096);
}

TEST(FrequencyModel, FreshModel) {
  const Model fresh;
  const FrequencyModel& m = fresh.model;
  EXPECT_EQ(m.cumFreq[0], 0);
  EXPECT_EQ(m.cumFreq[1], 1400);
  EXPECT_EQ(m.cumFreq[2], 2040);
  EXPECT_EQ(m.cumFreq[3], 2360);
  EXPECT_EQ(m.cumFreq[256], 4094);
  EXPECT_EQ(m.cumFreq[257], 4096);
  EXPECT_EQ(m.newFreq[0], 701);
  EXPECT_EQ(m.newFreq[256], 1);
  EXPECT_EQ(m.rescale, 36);
  EXPECT_EQ(m.increment, 55);
  EXPECT_EQ(m.nextLeft, 15);
  EXPECT_EQ(m.left, 21);
  EXPECT_EQ(m.searchShift, 5);
  EXPECT_EQ(m.searchTable[43], 0);
  EXPECT_EQ(m.searchTable[44], 1);
  EXPECT_EQ(m.searchTable[128], 256);

  const std::pair<std::int32_t, std::int32_t> lookups[] = {{0, 0},     {1399, 0},   {1400, 1},
                                                           {4093, 255}, {4094, 256}, {4095, 256}};
  for (const auto& [value, symbol] : lookups) EXPECT_EQ(FindSymbol(&m, value), symbol) << value;
  std::int32_t freq = 0;
  std::int32_t cumLow = 0;
  GetFrequency(&m, 256, &freq, &cumLow);
  EXPECT_EQ(freq, 2);
  EXPECT_EQ(cumLow, 4094);
}

TEST(FrequencyModel, IncrementsOfTheFirstInterval) {
  Model counted;
  FrequencyModel& m = counted.model;
  const Bytes freshCumFreq = counted.CumFreqBytes();
  std::vector<int> added;
  for (int update = 1; update <= 36; ++update) {
    const int before = m.newFreq[0];
    UpdateModel(&m, 0);
    added.push_back(m.newFreq[0] - before);
    if (update == 22) {
      EXPECT_EQ(m.increment, 56);
      EXPECT_EQ(m.nextLeft, 0);
      EXPECT_EQ(m.left, 14);  // 15, less this update
    }
  }
  std::vector<int> expected(21, 55);
  expected.insert(expected.end(), 15, 56);
  EXPECT_EQ(added, expected);
  EXPECT_EQ(m.newFreq[0], 2696);
  EXPECT_EQ(counted.CumFreqBytes(), freshCumFreq) << "the table in force changed between rescales";

  UpdateModel(&m, 0);  // the 37th starts a full rescale
  EXPECT_EQ(m.cumFreq[1], 2696);
  EXPECT_EQ(m.rescale, 72);
}

// Full rescales, seen as changes of the table in force, come at fixed update
// counts whatever the symbols; in between, lookups agree with a plain scan.
TEST(FrequencyModel, RescaleScheduleAndLookups) {
  const std::vector<int> expected = {37, 109, 253, 541, 1117, 2269, 4269, 6269, 8269};
  for (std::uint64_t seed : {1u, 2u, 3u}) {
    Model counted;
    FrequencyModel& m = counted.model;
    std::uint64_t state = seed;
    std::vector<int> rescales;
    for (int update = 1; update <= 9000; ++update) {
      const Bytes before = counted.CumFreqBytes();
      // Skewed towards small symbols, as move-to-front output is.
      const std::int32_t symbol = seed == 3 ? 0 : RandomBelow(state, 1 + RandomBelow(state, 256));
      UpdateModel(&m, symbol);
      if (counted.CumFreqBytes() != before) rescales.push_back(update);
      if (update % 500 == 0 || update == 37) {
        std::int32_t scanned = 0;
        for (std::int32_t value = 0; value < 4096; ++value) {
          while (m.cumFreq[scanned + 1] <= value) ++scanned;
          ASSERT_EQ(FindSymbol(&m, value), scanned) << "update " << update << " value " << value;
        }
        for (std::int32_t s = 0; s < kCocotteSymbols; ++s) ASSERT_LT(m.cumFreq[s], m.cumFreq[s + 1]) << s;
        ASSERT_EQ(m.cumFreq[kCocotteSymbols], 4096);
      }
    }
    EXPECT_EQ(rescales, expected) << "seed " << seed;
  }
}

TEST(FrequencyModelDeathTest, BrokenSumEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Model broken;
        broken.model.newFreq[0] += 1;
        broken.model.nextLeft = 0;  // next rescale is a full one
        RescaleModel(&broken.model);
      },
      ::testing::ExitedWithCode(1), "BUG: rescaling left 2696 total frequency");
}

// ---------------------------------------------------------------------------
// Range decoder

// The one coded block of 100 bytes of 61 (hex): header, then its payload.
const Bytes kCodedBlock = {0x17, 0x00, 0x64, 0x00, 0x00, 0x1B, 0x4C, 0xF1, 0xEC, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x19, 0x6C, 0x00, 0x00, 0x13};
const Bytes kCodedPayload(kCodedBlock.begin() + 4, kCodedBlock.end());
constexpr std::int32_t kCodedSymbols = 102;

// Decodes the coded payload's symbols into a buffer of exactly symbolLimit
// bytes with a fresh decoder.
struct SymbolRun {
  bool ok = false;
  bool threw = false;
  Bytes symbols;
  std::uint32_t rangeAfter = 0;
  std::int32_t outCount = 0;
};

SymbolRun DecodeSymbolsOf(const Bytes& payload, std::int32_t symbolLimit) {
  SymbolRun run;
  Bytes input(payload);
  run.symbols.assign(static_cast<std::size_t>(symbolLimit), 0);
  CocotteDecoder decoder;
  try {
    run.ok = decoder.DecodeSymbols(run.symbols.data(), input.data(), symbolLimit,
                                   static_cast<std::int32_t>(input.size()));
  } catch (const ESpiError& error) {
    EXPECT_EQ(error.code, BrokenData);
    run.threw = true;
  }
  run.rangeAfter = decoder.range;
  run.outCount = decoder.outCount;
  return run;
}

TEST(RangeDecoder, CodedPayload) {
  const SymbolRun full = DecodeSymbolsOf(kCodedPayload, kCodedSymbols);
  ASSERT_TRUE(full.ok);
  ASSERT_FALSE(full.threw);
  // Primary index 0, then 61 at the front of the table and 99 repeats.
  Bytes expected = {0x00, 0x00, 0x61};
  expected.resize(kCodedSymbols, 0x00);
  EXPECT_EQ(full.symbols, expected);

  // Bytes after the last one read are ignored.
  const SymbolRun padded = DecodeSymbolsOf(Concat(kCodedPayload, {0xFF, 0xFF, 0xFF}), kCodedSymbols);
  EXPECT_TRUE(padded.ok);
  EXPECT_EQ(padded.symbols, expected);

  // One symbol too many throws before storing it; one too few answers false.
  const SymbolRun tooMany = DecodeSymbolsOf(kCodedPayload, kCodedSymbols - 1);
  EXPECT_TRUE(tooMany.threw);
  EXPECT_EQ(tooMany.outCount, kCodedSymbols - 1);
  EXPECT_EQ(tooMany.symbols, Bytes(expected.begin(), expected.end() - 1));
  const SymbolRun tooFew = DecodeSymbolsOf(kCodedPayload, kCodedSymbols + 1);
  EXPECT_FALSE(tooFew.threw);
  EXPECT_FALSE(tooFew.ok);
  EXPECT_EQ(tooFew.outCount, kCodedSymbols);
}

// The end symbol's interval and a normalisation follow the end symbol too:
// this stream from the writer needs its last byte only for that.
TEST(RangeDecoder, FinalNormalisationReads) {
  CocotteWriter writer;
  writer.Block(Bytes(100, 0x61), CocotteWriter::Kind::Coded);
  const Bytes payload(writer.Bytes().begin() + kBlockHeaderBytes, writer.Bytes().end());
  EXPECT_TRUE(DecodeSymbolsOf(payload, kCodedSymbols).ok);
  const SymbolRun cut = DecodeSymbolsOf(Bytes(payload.begin(), payload.end() - 1), kCodedSymbols);
  EXPECT_TRUE(cut.threw);
  EXPECT_EQ(cut.outCount, kCodedSymbols);
}

// Where short payloads fail shows in `range`: untouched (0) when
// StartDecoding throws, 128 when only the final normalisation of a two-byte
// payload reads, 2^15 or 2^23 part way through the first symbol's.
TEST(RangeDecoder, ShortPayloads) {
  const std::uint32_t rangeAtThrow[] = {0, 0, 0x80, 0x8000, 0x800000};
  for (std::size_t length = 0; length < std::size(rangeAtThrow); ++length) {
    const SymbolRun run = DecodeSymbolsOf(Bytes(kCodedPayload.begin(), kCodedPayload.begin() + length), kCodedSymbols);
    EXPECT_TRUE(run.threw) << length;
    EXPECT_EQ(run.rangeAfter, rangeAtThrow[length]) << length;
    EXPECT_EQ(run.outCount, 0) << length;
  }
  // Five bytes are enough for the first symbol.
  const SymbolRun five = DecodeSymbolsOf(Bytes(kCodedPayload.begin(), kCodedPayload.begin() + 5), kCodedSymbols);
  EXPECT_GE(five.outCount, 1);
  EXPECT_EQ(five.symbols[0], 0x00);
  EXPECT_FALSE(five.ok);
}

TEST(RangeDecoder, QuotientIsClamped) {
  CocotteDecoder decoder;
  decoder.range = 0x80000FFF;  // no normalisation; scale = 2^19
  decoder.low = 0x80000000;    // low / scale = 4096
  EXPECT_EQ(decoder.DecodeFreq(12), 4095u);
  EXPECT_EQ(decoder.scale, 0x80000u);
  EXPECT_EQ(FindSymbol(&decoder.model, 4095), kCocotteEndSymbol);
}

// ---------------------------------------------------------------------------
// Move-to-front and inverse transform

TEST(MoveToFront, BananaIndexAndCarriedTable) {
  std::uint8_t table[256];
  MtfReset(table);
  Bytes sequence = {0x03, 0x01, 0x6E, 0x00, 0x63, 0x63, 0x00, 0x00};
  MtfDecode(table, sequence.data(), static_cast<std::int32_t>(sequence.size()));
  EXPECT_EQ(sequence, (Bytes{0x03, 0x00, 0x6E, 0x6E, 0x62, 0x61, 0x61, 0x61}));
  EXPECT_EQ((Bytes{table[0], table[1], table[2], table[3], table[4]}), (Bytes{0x61, 0x62, 0x6E, 0x00, 0x03}));
}

TEST(InverseBwt, UndoesTheTransform) {
  std::vector<Bytes> inputs = {
      {},
      {0x42},
      Text("banana"),
      Bytes(300, 0x61),
      Text("abababababab"),
      Text("mississippi"),
      RandomBytes(11, 5000),
      WordSoup(12, 32770),
  };
  Bytes everyValue;
  for (int i = 0; i < 512; ++i) everyValue.push_back(static_cast<std::uint8_t>(255 - i % 256));
  inputs.push_back(everyValue);
  for (const Bytes& data : inputs) {
    const Bytes sequence = CocotteWriter::SymbolSequence(data);
    Bytes output(data.size());
    InverseBwt(output.data(), sequence.data(), static_cast<std::int32_t>(sequence.size()));
    EXPECT_EQ(output, data) << data.size();
  }
}

TEST(InverseBwt, PrimaryIndexOutsideTheDataThrows) {
  const Bytes sequences[] = {{0x03, 0x00, 0x61, 0x62, 0x63}, {0xFF, 0xFF, 0x61}, {0x01, 0x00, 0x61}};
  for (const Bytes& sequence : sequences) {
    Bytes output(sequence.size() - 2, 0xEE);
    EXPECT_THROW(InverseBwt(output.data(), sequence.data(), static_cast<std::int32_t>(sequence.size())), ESpiError);
    EXPECT_EQ(output, Bytes(sequence.size() - 2, 0xEE)) << "wrote output";
  }
  // No data: the index is not looked at.
  const Bytes empty = {0xFF, 0xFF};
  InverseBwt(nullptr, empty.data(), 2);
}

// ---------------------------------------------------------------------------
// Block decoder

enum class Outcome { True, False, Throws };

struct DecodeResult {
  Outcome outcome = Outcome::False;
  std::int32_t code = 0;  // of the exception
  Bytes output;
};

// Packed bytes and output in buffers of exactly their size, for the
// sanitizer build.
DecodeResult DecodeCocotte(const Bytes& packed, std::int32_t unpackedSize, ProgressReporter reporter) {
  DecodeResult result;
  Bytes input(packed);
  result.output.assign(static_cast<std::size_t>(unpackedSize), 0);
  try {
    CocotteDecoder decoder;
    result.outcome = decoder.Decode(result.output.data(), input.data(), unpackedSize,
                                    static_cast<std::int32_t>(input.size()), reporter)
                         ? Outcome::True
                         : Outcome::False;
  } catch (const ESpiError& error) {
    result.outcome = Outcome::Throws;
    result.code = error.code;
  }
  return result;
}

struct CocotteCase {
  const char* what;
  Bytes packed;
  std::int32_t unpackedSize;
  Outcome outcome;
  Bytes output;  // the whole output block afterwards
  Reports reports;
};

const Bytes kAbc = {0x09, 0x00, 0x03, 0x00, 0x00, 0x00, 0x63, 0x62, 0x63};  // stored
const Bytes kAbcAgain = {0x09, 0x00, 0x03, 0x00, 0x03, 0x00, 0x03, 0x03, 0x03};  // stored, after kAbc

TEST(CocotteDecode, HandMadeStreams) {
  const Bytes abcabc = Concat(Text("abc"), Text("abc"));
  const CocotteCase cases[] = {
      {"empty, nothing wanted", {}, 0, Outcome::True, {}, {}},
      {"empty, bytes wanted", {}, 3, Outcome::False, {0, 0, 0}, {}},
      {"one stored byte", {0x07, 0x00, 0x01, 0x00, 0x00, 0x00, 0x78}, 1, Outcome::True, {0x78}, {{0, 7}}},
      {"stored abc", kAbc, 3, Outcome::True, Text("abc"), {{0, 9}}},
      {"stored banana", {0x0C, 0x00, 0x06, 0x00, 0x03, 0x01, 0x6E, 0x00, 0x63, 0x63, 0x00, 0x00}, 6, Outcome::True,
       Text("banana"), {{0, 12}}},
      {"table carried to the second block", Concat(kAbc, kAbcAgain), 6, Outcome::True, abcabc, {{0, 18}, {9, 18}}},
      {"second block with a fresh table", kAbcAgain, 3, Outcome::Throws, {0, 0, 0}, {{0, 9}}},
      {"coded block", kCodedBlock, 100, Outcome::True, Bytes(100, 0x61), {{0, 23}}},
      // 05 07 move 5 then 7 to the front; 02 00 then name 0, 0 and 78 stays 78.
      {"empty stored block moves the table", {0x06, 0x00, 0x00, 0x00, 0x05, 0x07, 0x07, 0x00, 0x01, 0x00, 0x02, 0x00, 0x78},
       1, Outcome::True, {0x78}, {{0, 13}, {6, 13}}},
      {"one byte after the blocks", Concat(kAbc, {0x00}), 3, Outcome::False, Text("abc"), {{0, 10}, {9, 10}}},
      {"three bytes after the blocks", Concat(kAbc, {0x09, 0x00, 0x03}), 3, Outcome::False, Text("abc"),
       {{0, 12}, {9, 12}}},
      {"output one byte short", kAbc, 4, Outcome::False, Concat(Text("abc"), {0}), {{0, 9}}},
      {"output past the block", kAbc, 2, Outcome::False, {0, 0}, {{0, 9}}},
      {"payload past the data", {0x0A, 0x00, 0x03, 0x00, 0x00, 0x00, 0x63, 0x62, 0x63}, 3, Outcome::False, {0, 0, 0},
       {{0, 9}}},
      {"block size 0", {0x00, 0x00, 0x01, 0x00}, 1, Outcome::Throws, {0}, {{0, 4}}},
      {"block size 4", {0x04, 0x00, 0x01, 0x00}, 1, Outcome::Throws, {0}, {{0, 4}}},
      {"block size 5", {0x05, 0x00, 0x01, 0x00, 0x00}, 1, Outcome::Throws, {0}, {{0, 5}}},
      {"two-byte payload", {0x06, 0x00, 0x01, 0x00, 0x00, 0x00}, 1, Outcome::Throws, {0}, {{0, 6}}},
      {"primary index equal to the size", {0x09, 0x00, 0x03, 0x00, 0x03, 0x01, 0x61, 0x62, 0x63}, 3, Outcome::Throws,
       {0, 0, 0}, {{0, 9}}},
  };
  for (const CocotteCase& c : cases) {
    const DecodeResult result = DecodeCocotte(c.packed, c.unpackedSize, Reporter());
    EXPECT_EQ(result.outcome, c.outcome) << c.what;
    if (result.outcome == Outcome::Throws) {
      EXPECT_EQ(result.code, BrokenData) << c.what;
    }
    EXPECT_EQ(result.output, c.output) << c.what;
    EXPECT_EQ(recorder.reports, c.reports) << c.what;
  }
}

TEST(CocotteDecode, AbortAtSecondReportKeepsTheFirstBlock) {
  const DecodeResult result = DecodeCocotte(Concat(kAbc, kAbcAgain), 6, Reporter(2));
  EXPECT_EQ(result.outcome, Outcome::Throws);
  EXPECT_EQ(result.code, Aborted);
  EXPECT_EQ(result.output, Concat(Text("abc"), {0, 0, 0}));
  EXPECT_EQ(recorder.reports, (Reports{{0, 18}, {9, 18}}));
}

TEST(CocotteDecode, BlockBufferLimit) {
  // n = outputSize + 2 may be 32,772 but not one more.
  CocotteWriter writer;
  writer.Block(WordSoup(3, 32770), CocotteWriter::Kind::Stored);
  const DecodeResult largest = DecodeCocotte(writer.Bytes(), 32770, ProgressReporter{});
  EXPECT_EQ(largest.outcome, Outcome::True);
  EXPECT_EQ(largest.output, writer.Output());

  Bytes tooLarge(4 + 32773, 0);
  WriteLe16(&tooLarge[0], static_cast<std::uint16_t>(tooLarge.size()));
  WriteLe16(&tooLarge[2], 32771);
  const DecodeResult refused = DecodeCocotte(tooLarge, 32771, ProgressReporter{});
  EXPECT_EQ(refused.outcome, Outcome::Throws);
  EXPECT_EQ(refused.code, BrokenData);
}

TEST(CocotteDecode, ModelRestartsAfterStoredBlock) {
  const Bytes packed = Concat(kCodedBlock, {0x06, 0x00, 0x00, 0x00, 0x00, 0x00});
  Bytes output(100);
  CocotteDecoder decoder;
  ASSERT_TRUE(decoder.Decode(output.data(), packed.data(), 100, static_cast<std::int32_t>(packed.size()),
                             ProgressReporter{}));
  const Model fresh;
  ExpectSameModel(decoder.model, fresh.model);
}

// Streams from the test-side writer: coded and stored blocks, sizes 0, 1 and
// the largest, the model carried across coded blocks (through rescales) and
// restarted after stored ones, the table carried across all.
TEST(CocotteDecode, WriterStreams) {
  struct Stream {
    const char* what;
    Bytes bytes;
    Bytes output;
    std::size_t blocks;
  };
  std::vector<Stream> streams;
  {
    CocotteWriter writer;
    writer.Blocks(WordSoup(1, 200000), 32770);
    streams.push_back({"coded text", writer.Bytes(), writer.Output(), 7});
  }
  {
    using Kind = CocotteWriter::Kind;
    CocotteWriter writer;
    writer.Block(WordSoup(2, 5000), Kind::Coded)
        .Block({}, Kind::Coded)
        .Block({0x41}, Kind::Coded)
        .Block(RandomBytes(3, 3000))  // stored: coding would not shrink it
        .Block(WordSoup(4, 1), Kind::Stored)
        .Block(WordSoup(5, 32770), Kind::Coded)
        .Block({}, Kind::Stored)
        .Block(Bytes(1000, 0x00), Kind::Coded)
        .Block(WordSoup(6, 777), Kind::Coded);
    streams.push_back({"mixed blocks", writer.Bytes(), writer.Output(), 9});
  }
  for (const Stream& stream : streams) {
    const DecodeResult result =
        DecodeCocotte(stream.bytes, static_cast<std::int32_t>(stream.output.size()), Reporter());
    EXPECT_EQ(result.outcome, Outcome::True) << stream.what;
    EXPECT_TRUE(result.output == stream.output) << stream.what;
    EXPECT_EQ(recorder.reports.size(), stream.blocks) << stream.what;
  }
}

#ifdef _WIN32
template <typename Work>
DWORD WINAPI ThreadEntry(void* context) {
  (*static_cast<Work*>(context))();
  return 0;
}
#else
template <typename Work>
void* ThreadEntry(void* context) {
  (*static_cast<Work*>(context))();
  return nullptr;
}
#endif

// Runs work on a new thread with a stack of 1 MiB, the default of the
// threads of a Windows host.
template <typename Work>
void RunOnSmallStack(Work& work) {
  constexpr std::size_t kStackBytes = 1 << 20;
#ifdef _WIN32
  HANDLE thread =
      CreateThread(nullptr, kStackBytes, ThreadEntry<Work>, &work, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
#else
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kStackBytes);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, ThreadEntry<Work>, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
#endif
}

TEST(CocotteDecode, FitsASmallThreadStack) {
  // The work buffers (about 290 KB) live on the stack of the calling thread.
  CocotteWriter writer;
  writer.Blocks(WordSoup(8, 70000), 32770);
  DecodeResult result;
  auto work = [&] {
    result = DecodeCocotte(writer.Bytes(), static_cast<std::int32_t>(writer.Output().size()), ProgressReporter{});
  };
  RunOnSmallStack(work);
  EXPECT_EQ(result.outcome, Outcome::True);
  EXPECT_TRUE(result.output == writer.Output());
}

// Hostile input: these check only that the decoder stays inside its buffers
// (the sanitizer build) and fails plainly.

TEST(CocotteDecodeHostile, EveryTruncationFails) {
  using Kind = CocotteWriter::Kind;
  CocotteWriter writer;
  writer.Block(WordSoup(9, 900), Kind::Coded).Block(WordSoup(10, 300), Kind::Stored).Block(WordSoup(11, 700), Kind::Coded);
  const Bytes& packed = writer.Bytes();
  const std::int32_t unpackedSize = static_cast<std::int32_t>(writer.Output().size());
  for (std::size_t length = 0; length < packed.size(); ++length) {
    const DecodeResult result =
        DecodeCocotte(Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length)), unpackedSize,
                    ProgressReporter{});
    ASSERT_NE(result.outcome, Outcome::True) << length;
    if (result.outcome == Outcome::Throws) {
      ASSERT_EQ(result.code, BrokenData) << length;
    }
  }
}

TEST(CocotteDecodeHostile, RandomAndMutatedStreams) {
  std::uint64_t state = 17;
  for (int round = 0; round < 2000; ++round) {
    // Blocks whose header fits their payload, so that decoding gets going.
    Bytes packed;
    std::int32_t unpackedSize = 0;
    for (int blocks = 1 + RandomBelow(state, 3); blocks > 0; --blocks) {
      const std::int32_t payloadLength = RandomBelow(state, 80);
      const std::int32_t outputSize = RandomBelow(state, 120);
      Bytes block(4);
      WriteLe16(&block[0], static_cast<std::uint16_t>(payloadLength + 4));
      WriteLe16(&block[2], static_cast<std::uint16_t>(outputSize));
      packed = Concat(Concat(packed, block), RandomBytes(NextRandom(state), static_cast<std::size_t>(payloadLength)));
      unpackedSize += outputSize;
    }
    const DecodeResult result = DecodeCocotte(packed, unpackedSize + RandomBelow(state, 2), ProgressReporter{});
    if (result.outcome == Outcome::Throws) {
      ASSERT_EQ(result.code, BrokenData);
    }
  }
  CocotteWriter writer;
  writer.Block(WordSoup(12, 600), CocotteWriter::Kind::Coded).Block(WordSoup(13, 400), CocotteWriter::Kind::Stored);
  for (int round = 0; round < 1000; ++round) {
    Bytes packed = writer.Bytes();
    for (int flips = 1 + RandomBelow(state, 3); flips > 0; --flips) {
      packed[static_cast<std::size_t>(RandomBelow(state, static_cast<std::int32_t>(packed.size())))] ^=
          static_cast<std::uint8_t>(1 + RandomBelow(state, 255));
    }
    const DecodeResult result =
        DecodeCocotte(packed, static_cast<std::int32_t>(writer.Output().size()), ProgressReporter{});
    if (result.outcome == Outcome::Throws) {
      ASSERT_EQ(result.code, BrokenData);
    }
  }
}

}  // namespace
