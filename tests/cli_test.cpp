// The pak tool as a user runs it: command lines with their exit status and
// output, over archives from the fixture builder.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "host.h"
#include "pak_builder.h"
#include "text.h"

namespace {

struct PakRun {
  int status;
  std::string out;
};

// Runs pak with arguments (already shell-quoted); stderr is kept apart.
PakRun RunPak(const std::string& arguments) {
  const std::string command = std::string(PAK_TOOL) + " " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  PakRun run{-1, {}};
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer;
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(Cp932ToUtf8, DecodesAndReplaces) {
  struct Case {
    std::string bytes;
    std::string utf8;
  };
  const Case cases[] = {
      {"README.TXT", "README.TXT"},
      {"\x8c\xa9\x96\x7b", "見本"},
      {"\x95\x5c", "表"},           // trail byte 0x5C
      {"a\\b", "a\\b"},             // 0x5C alone stays a backslash
      {"\x82", "\xEF\xBF\xBD"},     // lead byte at the end
      {"\x80x", "\xEF\xBF\xBDx"},   // no character
      {"\xb1", "ｱ"},                // half-width katakana
  };
  for (const Case& c : cases) EXPECT_EQ(Cp932ToUtf8(c.bytes), c.utf8) << HexOf(c.bytes);
}

TEST(DisplayWidth, WideCharactersTakeTwoColumns) {
  EXPECT_EQ(DisplayWidth("abc"), 3u);
  EXPECT_EQ(DisplayWidth("見本.TXT"), 8u);
  EXPECT_EQ(DisplayWidth("ｱ"), 1u);
  EXPECT_EQ(PadRight("見", 4), "見  ");
}

class PakList : public testing::Test {
 protected:
  void SetUp() override {
    folder = TestFolder("PakList");
    PakBuilder builder(3);
    builder.Add({.name = "README", .extension = "TXT", .data = {1, 2, 3}, .auxFlag = 1, .auxValue = 5,
                 .fileTime = FileTimeOf(2001, 9, 9, 1, 46, 40)});
    builder.Add({.name = std::string("\x8c\xa9\x96\x7b\x01", 5), .extension = "", .data = {4}, .method = 1,
                 .unpackedSize = 9});
    archive = HostPath(folder, "a.pak");
    WriteFileBytes(archive, builder.Build());
    std::vector<std::uint8_t> shifted(7, 0);
    const std::vector<std::uint8_t> bytes = builder.Build();
    shifted.resize(7 + bytes.size());
    std::copy(bytes.begin(), bytes.end(), shifted.begin() + 7);
    offsetArchive = HostPath(folder, "offset.bin");
    WriteFileBytes(offsetArchive, shifted);
    notPak = HostPath(folder, "not.pak");
    WriteFileBytes(notPak, {'n', 'o', 't', ' ', 'a', ' ', 'p', 'a', 'k'});
    broken = HostPath(folder, "broken.pak");
    std::vector<std::uint8_t> cut = bytes;
    cut.resize(cut.size() - 1);
    WriteFileBytes(broken, cut);
  }
  std::string folder, archive, offsetArchive, notPak, broken;
};

TEST_F(PakList, JsonKeepsRawBytesAndDecodesNames) {
  const PakRun run = RunPak("list --json " + archive);
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "[\n"
            "  {\"name_hex\": \"524541444d452e545854\", \"name\": \"README.TXT\", \"method\": \"None\", "
            "\"position\": 20, \"packed_size\": 3, \"unpacked_size\": 3, \"timestamp\": 1000000000, "
            "\"aux_value\": 5},\n"
            "  {\"name_hex\": \"8ca9967b01\", \"name\": \"見本\\u0001\", \"method\": \"Mariel\", "
            "\"position\": 68, \"packed_size\": 1, \"unpacked_size\": 9, \"timestamp\": 0, \"aux_value\": 0}\n"
            "]\n");
  EXPECT_EQ(RunPak("list --json --offset 7 " + offsetArchive).out, run.out);
}

TEST_F(PakList, StatusAndTable) {
  struct Case {
    std::string arguments;
    int status;
    std::string contains;
  };
  const Case cases[] = {
      {"list " + archive, 0, "README.TXT                 None                3            3 2001-09-09T01:46:40"},
      {"l " + archive, 0, "見本\\x01"},  // control characters are escaped in the table
      {"list " + notPak, 3, ""},
      {"list " + broken, 2, ""},
      {"list " + folder + "/missing.pak", 2, ""},
      {"list --offset 100000 " + archive, 2, ""},
      {"list", 64, ""},
      {"frobnicate", 64, ""},
  };
  for (const Case& c : cases) {
    const PakRun run = RunPak(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_NE(run.out.find(c.contains), std::string::npos) << c.arguments << "\n" << run.out;
  }
}

}  // namespace
