// GetFile as a host calls it: every method to memory and to a file, the
// progress reports, the abort, and every failure of the table, each with
// what it leaves behind (block, output file, host variable).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host.h"
#include "module_suite.h"
#include "pak_builder.h"
#include "progress_recorder.h"


namespace {

using GetFileFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, char*, std::uint32_t, ProgressCallback, std::int32_t);

HostBlock const kUntouched = reinterpret_cast<HostBlock>(static_cast<std::uintptr_t>(0x5A5A5A5A));

// One archive with an entry per case; entry i is found at PositionOf(i).
struct Sample {
  const char* what;
  PakFixtureEntry entry;
  std::int32_t result;
  std::vector<std::uint8_t> output;  // for Success
};

std::vector<Sample> Samples() {
  std::vector<std::uint8_t> mariel33 = Hex("00000000");
  for (int i = 0; i < 32; ++i) mariel33.push_back(static_cast<std::uint8_t>('a' + i % 26));
  for (std::uint8_t b : Hex("00000000 41")) mariel33.push_back(b);
  std::vector<std::uint8_t> mariel33Out(mariel33.begin() + 4, mariel33.begin() + 36);
  mariel33Out.push_back('A');
  return {
      {"None", {.name = "NONE", .data = Text("plain"), .method = 0}, 0, Text("plain")},
      {"NotCode", {.name = "NOT", .data = Hex("00 5A FF"), .method = 3}, 0, Hex("FF A5 00")},
      {"Mariel", {.name = "MAR", .data = Hex("00000010 616263 52"), .method = 1, .unpackedSize = 9}, 0,
       Text("abcabcabc")},
      {"Mariel, two flag words", {.name = "MAR2", .data = mariel33, .method = 1, .unpackedSize = 33}, 0, mariel33Out},
      {"Cocotte, stored banana", {.name = "BAN", .data = Hex("0C00 0600 0301 6E00 6363 0000"), .method = 2, .unpackedSize = 6},
       0, Text("banana")},
      {"Cocotte, two stored blocks",
       {.name = "ABC2", .data = Hex("0900 0300 0000 636263 0900 0300 0300 030303"), .method = 2, .unpackedSize = 6}, 0,
       Text("abcabc")},
      {"Cocotte, coded block",
       {.name = "A100", .data = Hex("1700 6400 001B4CF1EC000000000000000000196C000013"), .method = 2, .unpackedSize = 100},
       0, std::vector<std::uint8_t>(100, 'a')},
      {"None, empty", {.name = "EMPTY", .data = {}, .method = 0}, 0, {}},
      {"None, sizes differ", {.name = "BADNONE", .data = Text("abc"), .method = 0, .unpackedSize = 2}, 2, {}},
      {"NotCode, sizes differ", {.name = "BADNOT", .data = Text("abc"), .method = 3, .unpackedSize = 4}, 2, {}},
      {"method 4", {.name = "M4", .data = Text("abc"), .method = 4}, 2, {}},
      {"method 255", {.name = "M255", .data = Text("abc"), .method = 255}, 2, {}},
      {"Mariel, truncated", {.name = "MART", .data = Hex("00000010 616263"), .method = 1, .unpackedSize = 9}, 3, {}},
      {"Mariel, a byte too many", {.name = "MARX", .data = Hex("00000010 616263 52 00"), .method = 1, .unpackedSize = 9},
       3, {}},
      {"Cocotte, one byte short of the size", {.name = "BANS", .data = Hex("0C00 0600 0301 6E00 6363 0000"), .method = 2,
                                               .unpackedSize = 7}, 3, {}},
      {"Cocotte, block header cut", {.name = "COCT", .data = Hex("0C00 06"), .method = 2, .unpackedSize = 6}, 3, {}},
      {"Cocotte, coded payload cut", {.name = "COCP", .data = Hex("0700 6400 001B4C"), .method = 2, .unpackedSize = 100},
       3, {}},
      {"data beyond the file", {.name = "FAR", .data = Text("abc"), .method = 0, .dataOffset = 0x7FFFFFF0}, 3, {}},
  };
}

class GetFileExport : public ModuleSuite {
 protected:
  static void SetUpTestSuite() { LoadModule(PAKREAD_MODULE); }
  static void TearDownTestSuite() { UnloadModule(); }
  void SetUp() override {
    ModuleSuite::SetUp();
    getFile = module_->Get<GetFileFn>("GetFile");
    ASSERT_NE(getFile, nullptr);
    PakBuilder builder(3);
    for (const Sample& sample : samples) builder.Add(sample.entry);
    for (std::size_t i = 0; i < samples.size(); ++i) positions.push_back(static_cast<std::int32_t>(builder.PositionOf(i)));
    archive = HostPath(folder, "archive.pak");
    WriteFileBytes(archive, builder.Build());
    Reporter();
  }

  std::int32_t ToMemory(std::int32_t position, HostBlock* block, std::uint32_t flag = 0x100) {
    return getFile(archive.c_str(), position, reinterpret_cast<char*>(block), flag, Record, recorder.userData);
  }

  GetFileFn getFile = nullptr;
  const std::vector<Sample> samples = Samples();
  std::vector<std::int32_t> positions;
  std::string archive;
};

TEST_F(GetFileExport, EveryCaseToMemoryAndToAFile) {
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const Sample& sample = samples[i];
    HostBlock block = kUntouched;
    EXPECT_EQ(ToMemory(positions[i], &block), sample.result) << sample.what;
    const std::string out = HostPath(folder, "out" + std::to_string(i) + ".bin");
    EXPECT_EQ(getFile(archive.c_str(), positions[i], const_cast<char*>(out.c_str()), 0, nullptr, 0), sample.result)
        << sample.what;
    if (sample.result != 0) {
      EXPECT_EQ(block, kUntouched) << sample.what << ": the host variable was written";
      EXPECT_FALSE(FileExists(out)) << sample.what << ": an output file was created";
      continue;
    }
    ASSERT_NE(block, kUntouched);
    ASSERT_EQ(module_->Size(block), sample.output.size()) << sample.what;
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + sample.output.size()), sample.output) << sample.what;
    module_->Free(block);
    EXPECT_EQ(ReadFileBytes(out), sample.output) << sample.what;
  }
}

TEST_F(GetFileExport, ProgressReports) {
  struct Case {
    const char* name;
    Reports expected;
  };
  const Case cases[] = {
      {"NONE", {}},
      {"NOT", {}},
      {"MAR", {{4, 8}}},
      {"MAR2", {{4, 41}, {40, 41}}},
      {"ABC2", {{0, 18}, {9, 18}}},
      {"A100", {{0, 23}}},
  };
  for (const Case& c : cases) {
    std::size_t i = 0;
    while (samples[i].entry.name != c.name) ++i;
    Reporter(0, 77);
    HostBlock block = nullptr;
    ASSERT_EQ(ToMemory(positions[i], &block), 0) << c.name;
    module_->Free(block);
    EXPECT_EQ(recorder.reports, c.expected) << c.name;
  }
}

TEST_F(GetFileExport, AbortFreesTheBlockAndCreatesNoFile) {
  struct Case {
    const char* name;
    int abortAt;
  };
  for (const Case& c : {Case{"MAR", 1}, Case{"MAR2", 2}, Case{"ABC2", 1}, Case{"ABC2", 2}}) {
    std::size_t i = 0;
    while (samples[i].entry.name != c.name) ++i;
    Reporter(c.abortAt);
    HostBlock block = kUntouched;
    EXPECT_EQ(ToMemory(positions[i], &block), 1) << c.name;
    EXPECT_EQ(block, kUntouched) << c.name;
    EXPECT_EQ(static_cast<int>(recorder.reports.size()), c.abortAt) << c.name;
    Reporter(c.abortAt);
    const std::string out = HostPath(folder, "aborted.bin");
    EXPECT_EQ(getFile(archive.c_str(), positions[i], const_cast<char*>(out.c_str()), 0, Record, recorder.userData), 1)
        << c.name;
    EXPECT_FALSE(FileExists(out)) << c.name;
  }
}

TEST_F(GetFileExport, KindsAndInputFailures) {
  const std::int32_t good = positions[0];   // None "plain"
  const std::int32_t bad = positions[12];   // Mariel, truncated
  const std::string empty = HostPath(folder, "empty.pak");
  WriteFileBytes(empty, {});
  const std::string tiny = HostPath(folder, "tiny.pak");
  WriteFileBytes(tiny, Text("HyPack"));
  const std::string shifted = HostPath(folder, "shifted.pak");
  std::vector<std::uint8_t> shiftedBytes = ReadFileBytes(archive);
  shiftedBytes.insert(shiftedBytes.begin(), 100, 0);
  WriteFileBytes(shifted, shiftedBytes);
  const std::vector<std::uint8_t> memory = ReadFileBytes(archive);

  struct Case {
    const char* what;
    const char* source;
    std::int32_t length;
    std::uint32_t flag;
    std::int32_t result;
  };
  const Case cases[] = {
      {"output kind 2", archive.c_str(), good, 0x200, -1},
      {"output kind 7", archive.c_str(), good, 0x700, -1},
      {"output kind 2, broken entry", archive.c_str(), bad, 0x200, 3},
      {"input kind 1", reinterpret_cast<const char*>(memory.data()), static_cast<std::int32_t>(memory.size()), 0x101, -1},
      {"input kind 2", archive.c_str(), good, 0x102, -1},
      {"missing archive", "no-such-folder\\missing.pak", good, 0x100, 6},
      {"empty archive", empty.c_str(), 0, 0x100, 6},
      {"6-byte archive", tiny.c_str(), 0, 0x100, 2},
      {"archive at offset 100", shifted.c_str(), good + 100, 0x100, 2},
      {"position beyond the file", archive.c_str(), 0x7FFFFF00, 0x100, 3},
      {"negative position", archive.c_str(), -4, 0x100, 3},
  };
  for (const Case& c : cases) {
    HostBlock block = kUntouched;
    EXPECT_EQ(getFile(c.source, c.length, reinterpret_cast<char*>(&block), c.flag, nullptr, 0), c.result) << c.what;
    EXPECT_EQ(block, kUntouched) << c.what;
  }
}

TEST_F(GetFileExport, OutputFileReplacedOrRefused) {
  const std::string out = HostPath(folder, "existing.bin");
  WriteFileBytes(out, std::vector<std::uint8_t>(1000, 'x'));
  EXPECT_EQ(getFile(archive.c_str(), positions[0], const_cast<char*>(out.c_str()), 0, nullptr, 0), 0);
  EXPECT_EQ(ReadFileBytes(out), Text("plain"));
  const std::string unreachable = HostPath(folder, "missing-folder/out.bin");
  EXPECT_EQ(getFile(archive.c_str(), positions[0], const_cast<char*>(unreachable.c_str()), 0, nullptr, 0), 6);
}

}  // namespace
