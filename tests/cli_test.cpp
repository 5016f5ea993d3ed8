// The pak tool as a user runs it: command lines with their exit status and
// output, over archives from the fixture builder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <cstring>
#include <string>

#include "host.h"
#include "pak_builder.h"
#include "pak_tool.h"
#include "text.h"

namespace {

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

std::vector<std::uint8_t> Bytes(const char* text) { return std::vector<std::uint8_t>(text, text + std::strlen(text)); }

// Good entries of every method, a broken one, and names that must never
// become paths.
class PakExtract : public testing::Test {
 protected:
  void SetUp() override {
    folder = TestFolder("PakExtract");
    PakBuilder builder(2);
    builder.Add({.name = "PLAIN", .extension = "TXT", .data = Bytes("plain")});
    builder.Add({.name = "NOT", .extension = "BIN", .data = {0x00, 0x5A, 0xFF}, .method = 3});
    builder.Add({.name = "ABC", .extension = "TXT", .data = {0, 0, 0, 0x10, 'a', 'b', 'c', 0x52}, .method = 1, .unpackedSize = 9});
    builder.Add({.name = "\x8c\xa9\x96\x7b", .extension = "TXT", .data = Bytes("mihon")});
    builder.Add({.name = "BROKEN", .extension = "TXT", .data = {0, 0, 0, 0x10, 'a'}, .method = 1, .unpackedSize = 9});
    archive = HostPath(folder, "a.pak");
    WriteFileBytes(archive, builder.Build());

    PakBuilder hostile(2);
    hostile.Add({.name = "..", .data = Bytes("x")});
    hostile.Add({.name = "..\\..\\x", .data = Bytes("x")});
    hostile.Add({.name = "/etc/x", .data = Bytes("x")});
    hostile.Add({.name = "C:x", .data = Bytes("x")});
    hostile.Add({.name = "SAFE", .extension = "TXT", .data = Bytes("safe")});
    hostileArchive = HostPath(folder, "hostile.pak");
    WriteFileBytes(hostileArchive, hostile.Build());
  }
  std::string folder, archive, hostileArchive;
};

TEST_F(PakExtract, ExtractsEveryGoodEntryAndReportsTheBrokenOne) {
  const std::string out = folder + "/out";
  EXPECT_EQ(RunPak("extract " + archive + " -o " + out).status, 2);
  EXPECT_EQ(Slurp(out + "/PLAIN.TXT"), "plain");
  EXPECT_EQ(Slurp(out + "/NOT.BIN"), std::string("\xFF\xA5\x00", 3));
  EXPECT_EQ(Slurp(out + "/ABC.TXT"), "abcabcabc");
  EXPECT_EQ(Slurp(out + "/見本.TXT"), "mihon");
  EXPECT_FALSE(std::filesystem::exists(out + "/BROKEN.TXT"));

  // Named entries only; an existing file is kept without -f.
  const std::string named = folder + "/named";
  EXPECT_EQ(RunPak("x " + archive + " ABC.TXT 見本.TXT -o " + named).status, 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(named), std::filesystem::directory_iterator()), 2);
  WriteFileBytes(named + "/ABC.TXT", Bytes("edited"));
  EXPECT_EQ(RunPak("x " + archive + " ABC.TXT -o " + named).status, 1);
  EXPECT_EQ(Slurp(named + "/ABC.TXT"), "edited");
  EXPECT_EQ(RunPak("x " + archive + " ABC.TXT -f -o " + named).status, 0);
  EXPECT_EQ(Slurp(named + "/ABC.TXT"), "abcabcabc");
  EXPECT_EQ(RunPak("x " + archive + " NOPE.TXT -o " + named).status, 1);
}

TEST_F(PakExtract, NeverWritesOutsideTheFolder) {
  const std::string out = folder + "/deep/out";
  std::filesystem::create_directories(out);
  EXPECT_EQ(RunPak("extract " + hostileArchive + " -o " + out).status, 1);
  EXPECT_EQ(Slurp(out + "/SAFE.TXT"), "safe");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), std::filesystem::directory_iterator()), 1);
  EXPECT_FALSE(std::filesystem::exists(folder + "/x"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/deep/x"));

  // A symbolic link planted under an entry's name is not followed, even with -f.
  const std::string target = folder + "/victim.txt";
  WriteFileBytes(target, Bytes("victim"));
  std::filesystem::remove(out + "/SAFE.TXT");
  std::filesystem::create_symlink(target, out + "/SAFE.TXT");
  EXPECT_NE(RunPak("extract " + hostileArchive + " SAFE.TXT -o " + out).status, 0);
  EXPECT_NE(RunPak("extract " + hostileArchive + " SAFE.TXT -f -o " + out).status, 0);
  EXPECT_EQ(Slurp(target), "victim");
}

TEST_F(PakExtract, TestAndCat) {
  const PakRun test = RunPak("test " + archive);
  EXPECT_EQ(test.status, 2);
  EXPECT_EQ(test.out, "BROKEN.TXT: broken data (3)\n4 of 5 entries OK\n");
  EXPECT_EQ(RunPak("t " + hostileArchive).status, 0);
  EXPECT_EQ(RunPak("test " + folder + "/a.pak.missing").status, 2);
  WriteFileBytes(folder + "/text.pak", Bytes("just some text"));
  EXPECT_EQ(RunPak("test " + folder + "/text.pak").status, 3);

  EXPECT_EQ(RunPak("cat " + archive + " ABC.TXT").out, "abcabcabc");
  EXPECT_EQ(RunPak("cat " + archive + " 見本.TXT").out, "mihon");
  EXPECT_EQ(RunPak("cat " + archive + " BROKEN.TXT").status, 2);
  EXPECT_EQ(RunPak("cat " + archive + " NOPE").status, 2);
}

// pak create: names, methods, refusals, and archives that the reader takes
// back byte for byte.
class PakCreate : public testing::Test {
 protected:
  void SetUp() override {
    folder = TestFolder("PakCreate");
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i % 97) + " of the script\n";
    Put("SCRIPT.TXT", text);
    Put("見本.TXT", "mihon");
    Put("EMPTY", "");
    std::string noise;
    std::uint32_t state = 1;
    for (int i = 0; i < 70000; ++i) noise += static_cast<char>((state = state * 1103515245 + 12345) >> 24);
    Put("NOISE.BIN", noise);
    inputs = " " + folder + "/SCRIPT.TXT " + folder + "/見本.TXT " + folder + "/EMPTY " + folder + "/NOISE.BIN";
  }
  void Put(const std::string& name, const std::string& bytes) {
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
  }
  std::string folder, inputs;
};

TEST_F(PakCreate, EveryMethodRoundTrips) {
  for (const char* method : {"auto", "none", "notcode", "mariel", "cocotte"}) {
    for (const char* format : {"2", "3"}) {
      const std::string archive = folder + "/" + method + format + ".pak";
      ASSERT_EQ(RunPak(std::string("create --method ") + method + " --format " + format + " " + archive + inputs).status,
                0)
          << method;
      EXPECT_EQ(RunPak("test " + archive).status, 0) << method;
      for (const char* name : {"SCRIPT.TXT", "見本.TXT", "EMPTY", "NOISE.BIN"}) {
        EXPECT_TRUE(RunPak("cat " + archive + " " + name).out == Slurp(folder + "/" + name)) << method << " " << name;
      }
    }
  }
  // auto stores what does not shrink and packs what does.
  const PakRun list = RunPak("list " + folder + "/auto3.pak");
  EXPECT_NE(list.out.find("NOISE.BIN                  None"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("SCRIPT.TXT                 None"), std::string::npos) << list.out;
  // Version 3 keeps the files' modification times.
  const PakRun json = RunPak("list --json " + folder + "/auto3.pak");
  struct stat info;
  ASSERT_EQ(stat((folder + "/SCRIPT.TXT").c_str(), &info), 0);
  EXPECT_NE(json.out.find("\"timestamp\": " + std::to_string(info.st_mtime)), std::string::npos) << json.out;
}

TEST_F(PakCreate, RefusesWhatCannotBeStored) {
  Put("A_NAME_OF_22_BYTES_XYZ.TXT", "x");
  Put("NAME.TEXT", "x");
  Put("emoji-\xF0\x9F\x98\x80", "x");
  const std::string archive = folder + "/out.pak";
  struct Case {
    std::string arguments;
    int status;
  };
  const Case cases[] = {
      {"create " + archive + " " + folder + "/A_NAME_OF_22_BYTES_XYZ.TXT", 2},
      {"create " + archive + " " + folder + "/NAME.TEXT", 2},
      {"create " + archive + " " + folder + "/emoji-\xF0\x9F\x98\x80", 2},
      {"create " + archive + " " + folder + "/SCRIPT.TXT " + folder + "/SCRIPT.TXT", 2},
      {"create " + archive + " " + folder + "/missing.txt", 2},
      {"create " + archive + " " + folder, 2},
      {"create --method zip " + archive + " " + folder + "/EMPTY", 64},
      {"create --format 4 " + archive + " " + folder + "/EMPTY", 64},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunPak(c.arguments).status, c.status) << c.arguments;
    EXPECT_FALSE(std::filesystem::exists(archive)) << c.arguments;
  }
  // An existing archive is replaced only with --force; no temporary file is left.
  ASSERT_EQ(RunPak("create " + archive + " " + folder + "/EMPTY").status, 0);
  EXPECT_EQ(RunPak("create " + archive + " " + folder + "/SCRIPT.TXT").status, 2);
  EXPECT_EQ(RunPak("list " + archive).out.find("SCRIPT"), std::string::npos);
  EXPECT_EQ(RunPak("create --force " + archive + " " + folder + "/SCRIPT.TXT").status, 0);
  EXPECT_NE(RunPak("list " + archive).out.find("SCRIPT"), std::string::npos);
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    EXPECT_EQ(entry.path().filename().string().find("out.pak."), std::string::npos) << entry.path();
  }
}

}  // namespace
