// pak extract, repack and identify as a user runs them: names that must
// never become paths outside the output folder, existing files, planted
// links, broken entries, interrupts, parallel runs, and repacking an
// extracted folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cocotte_encoder.h"
#include "host.h"
#include "listing.h"
#include "manifest.h"
#include "mariel_encoder.h"
#include "names.h"
#include "pak_builder.h"
#include "pak_tool.h"
#include "pak_writer.h"
#include "wbmread_fixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Every file and folder below root, relative path -> contents ("<dir>" for
// folders, "<link>" for links).
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(item.path(), root).string();
    if (item.is_symlink()) {
      tree[relative] = "<link>";
    } else if (item.is_directory()) {
      tree[relative] = "<dir>";
    } else {
      tree[relative] = Slurp(item.path().string());
    }
  }
  return tree;
}

TEST(EntryNames, DecodeEscapeAndRefuse) {
  struct Case {
    std::string raw;
    std::string path;  // joined components; empty when refused
    bool escaped;
    const char* encoding = "CP932";
  };
  const Case cases[] = {
      {"README.TXT", "README.TXT", false},
      {"\x95\x5c.TXT", "表.TXT", false},  // 0x5C as a second byte is no separator
      {"DIR\\\x8c\xa9\x96\x7b.TXT", "DIR/見本.TXT", false},
      {"a/b\\c", "a/b/c", false},
      {"a\\.\\\\b", "a/b", false},
      {"a%b", "a%25b", false},
      {"\x80x", "%80x", true},
      {"x\x82", "x%82", true},  // a lead byte at the end
      {"a\x01"
       "b\x7f",
       "a%01b%7F", true},
      {"CON", "%43ON", true},
      {"con.txt", "%63on.txt", true},
      {"D\\LPT9.X.Y", "D/%4CPT9.X.Y", true},
      {"COM0", "COM0", false},
      {"CONSOLE", "CONSOLE", false},
      {"..\\..\\x", "", false},
      {"a\\..\\x", "", false},
      {"..", "", false},
      {"/etc/x", "", false},
      {"\\\\server\\x", "", false},
      {"C:\\x", "", false},
      {"c:x", "", false},
      {"DIR\\", "", false},
      {"", "", false},
      {"\xe9t\xe9", "été", false, "LATIN1"},
  };
  for (const Case& c : cases) {
    const SafePath path = MakeSafePath(DecodeNameEscaped(c.raw, c.encoding));
    EXPECT_EQ(path.Joined(), c.path) << c.raw;
    EXPECT_EQ(path.refused != nullptr, c.path.empty()) << c.raw;
    if (!c.path.empty()) {
      EXPECT_EQ(path.escaped, c.escaped) << c.raw;
    }
  }
}

class PakExtractTree : public testing::Test {
 protected:
  void SetUp() override {
    folder = TestFolder("PakExtractTree");
    PakBuilder hostile(3);
    for (const char* name : {"..\\..\\x", "/etc/x", "C:\\x", "\\\\srv\\x", "SUB\\..\\..\\y"}) {
      hostile.Add({.name = name, .data = Bytes("evil")});
    }
    hostile.Add({.name = "CON", .extension = "TXT", .data = Bytes("con")});
    hostile.Add({.name = "a\x01"
                         "b",
                 .data = Bytes("ctl")});
    hostile.Add({.name = "SUB\\\x95\x5c", .extension = "TXT", .data = Bytes("table")});
    hostile.Add(
        {.name = "SAFE", .extension = "TXT", .data = Bytes("safe"), .fileTime = FileTimeOf(2001, 9, 9, 1, 46, 40)});
    archive = HostPath(folder, "hostile.pak");
    WriteFileBytes(archive, hostile.Build());

    PakBuilder mixed(2);
    mixed.Add({.name = "BROKEN", .extension = "TXT", .data = {0, 0, 0, 0x10, 'a'}, .method = 1, .unpackedSize = 9});
    mixed.Add({.name = "GOOD", .extension = "TXT", .data = Bytes("good")});
    mixed.Add({.name = "ALSO", .extension = "TXT", .data = Bytes("also")});
    brokenFirst = HostPath(folder, "broken.pak");
    WriteFileBytes(brokenFirst, mixed.Build());
  }
  std::string folder, archive, brokenFirst;
};

TEST_F(PakExtractTree, HostileNamesStayInsideTheFolder) {
  const std::string out = folder + "/a/out";
  EXPECT_EQ(RunPak("extract -q " + archive + " -o " + out).status, 1);
  const std::map<std::string, std::string> expected = {
      {"%43ON.TXT", "con"}, {"a%01b", "ctl"}, {"SUB", "<dir>"}, {"SUB/表.TXT", "table"}, {"SAFE.TXT", "safe"},
  };
  EXPECT_EQ(Tree(out), expected);
  EXPECT_EQ(Tree(folder + "/a").size(), expected.size() + 1);  // nothing beside out
  EXPECT_FALSE(fs::exists(folder + "/x"));
  EXPECT_FALSE(fs::exists(folder + "/y"));

  // Version 3 times become modification times unless --no-mtime.
  struct stat info;
  ASSERT_EQ(stat((out + "/SAFE.TXT").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1000000000);
  const std::string fresh = folder + "/fresh";
  EXPECT_EQ(RunPak("x -q --no-mtime " + archive + " SAFE.TXT -o " + fresh).status, 0);
  ASSERT_EQ(stat((fresh + "/SAFE.TXT").c_str(), &info), 0);
  EXPECT_NE(info.st_mtime, 1000000000);
}

TEST_F(PakExtractTree, ExistingFilesAndLinks) {
  const std::string out = folder + "/out";
  struct Step {
    std::string options;
    int status;
    std::string safe;  // SAFE.TXT afterwards
  };
  const Step steps[] = {
      {"", 1, "safe"},  // 1: the hostile names
      {"SAFE.TXT", 1, "safe"}, {"SAFE.TXT -k", 0, "safe"}, {"SAFE.TXT -f", 0, "safe"}, {"SAFE.TXT -f -k", 64, "safe"},
  };
  for (const Step& step : steps) {
    if (step.options == "SAFE.TXT -k" || step.options == "SAFE.TXT") WriteFileBytes(out + "/SAFE.TXT", Bytes("edited"));
    EXPECT_EQ(RunPak("x -q " + archive + " " + step.options + " -o " + out).status, step.status) << step.options;
    const std::string want = step.options == "SAFE.TXT" || step.options == "SAFE.TXT -k" ? "edited" : step.safe;
    EXPECT_EQ(Slurp(out + "/SAFE.TXT"), want) << step.options;
  }

  // A link planted as the file or as a folder on the way is never followed
  // nor replaced, even with -f.
  const std::string outside = folder + "/outside";
  fs::create_directories(outside);
  WriteFileBytes(outside + "/victim", Bytes("victim"));
  fs::remove(out + "/SAFE.TXT");
  fs::create_symlink(outside + "/victim", out + "/SAFE.TXT");
  fs::remove_all(out + "/SUB");
  fs::create_symlink(outside, out + "/SUB");
  for (const char* force : {"", "-f"}) {
    EXPECT_NE(RunPak("x -q " + archive + " SAFE.TXT SUB* " + force + " -o " + out).status, 0) << force;
    EXPECT_EQ(Slurp(outside + "/victim"), "victim");
    EXPECT_EQ(Tree(outside).size(), 1u) << force;
    EXPECT_TRUE(fs::is_symlink(out + "/SAFE.TXT"));
  }
}

TEST_F(PakExtractTree, BrokenEntriesAndFailFast) {
  const std::string all = folder + "/all";
  EXPECT_EQ(RunPak("x -q -j 1 " + brokenFirst + " -o " + all).status, 2);
  EXPECT_EQ(Tree(all), (std::map<std::string, std::string>{{"GOOD.TXT", "good"}, {"ALSO.TXT", "also"}}));
  const std::string first = folder + "/first";
  EXPECT_EQ(RunPak("x -q -j 1 --fail-fast " + brokenFirst + " -o " + first).status, 2);
  EXPECT_TRUE(Tree(first).empty());
}

TEST_F(PakExtractTree, PatternsListTestAndIdentify) {
  struct Case {
    std::string arguments;
    int status;
    std::string out;  // expected stdout; "*" skips the check
  };
  WriteFileBytes(folder + "/bad_version.pak", {'H', 'y', 'P', 'a', 'c', 'k', 0, 4, 0, 0, 0, 0, 0, 0, 0, 0});
  PakBuilder outOfRange(2);
  outOfRange.Add({.name = "A", .data = Bytes("a")}).DirectoryOffset(1000);
  WriteFileBytes(folder + "/range.pak", outOfRange.Build());
  WriteFileBytes(folder + "/image.wbm", WbmBytes(3, 2));
  const Case cases[] = {
      {"test " + brokenFirst + " '*O*'", 2, "BROKEN.TXT: broken data (3)\n2 of 3 entries OK\n"},
      {"test " + brokenFirst + " 'G*' 'A*'", 0, "2 of 2 entries OK\n"},
      {"test " + brokenFirst + " 'NONE*'", 1, "0 of 0 entries OK\n"},
      {"list --json " + brokenFirst + " 'G*'", 0, "*"},
      {"identify " + brokenFirst, 0, brokenFirst + ": PAK archive, version 2, 3 entries\n"},
      {"identify " + folder + "/image.wbm", 0, folder + "/image.wbm: WBM image, 3 x 2 pixels\n"},
      {"identify " + folder + "/bad_version.pak", 3,
       folder + "/bad_version.pak: not a PAK archive or WBM image (PAK magic, but bad version)\n"},
      {"identify " + folder + "/range.pak", 3,
       folder + "/range.pak: not a PAK archive or WBM image (PAK header, but the directory lies out of range)\n"},
      {"identify " + folder + "/missing", 2, ""},
      {"identify", 64, ""},
      {"extract --images gif " + brokenFirst, 64, ""},
      {"extract -j 0 " + brokenFirst, 64, ""},
  };
  for (const Case& c : cases) {
    const PakRun run = RunPak(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    if (c.out != "*") {
      EXPECT_EQ(run.out, c.out) << c.arguments;
    }
  }
  const PakRun json = RunPak("list --json " + brokenFirst + " 'G*'");
  EXPECT_NE(json.out.find("GOOD.TXT"), std::string::npos);
  EXPECT_EQ(json.out.find("ALSO.TXT"), std::string::npos);
}

TEST(PakExtractImages, WbmEntriesBecomePngsWithTheArchivesPalette) {
  const std::string folder = TestFolder("PakExtractImages");
  std::vector<std::uint8_t> table(768);
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint8_t>(i * 7 + 3);
  PakBuilder builder(2);
  builder.Add({.name = "PIC\\ONE", .extension = "WBM", .data = WbmBytes(5, 3)});
  builder.Add({.name = "COLORS", .extension = "ACT", .data = table});
  builder.Add({.name = "FAKE", .extension = "WBM", .data = Bytes("not an image")});
  const std::string archive = folder + "/images.pak";
  WriteFileBytes(archive, builder.Build());

  // The PNG's PLTE chunk holds the colour table in the same order.
  const auto plte = [](const std::string& png) {
    const std::size_t at = png.find("PLTE");
    return at == std::string::npos ? std::string() : png.substr(at + 4, 768);
  };
  const std::string out = folder + "/out";
  EXPECT_EQ(RunPak("x -q --images png " + archive + " -o " + out).status, 1);  // FAKE.WBM: a warning
  const std::string png = Slurp(out + "/PIC/ONE.png");
  ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(plte(png), std::string(table.begin(), table.end()));
  EXPECT_TRUE(fs::exists(out + "/PIC/ONE.WBM"));
  EXPECT_FALSE(fs::exists(out + "/FAKE.png"));

  // --palette wins over the archive's table.
  std::vector<std::uint8_t> other(768, 0x42);
  WriteFileBytes(folder + "/other.act", other);
  const std::string again = folder + "/again";
  EXPECT_EQ(RunPak("x -q --images png --palette " + folder + "/other.act " + archive + " 'PIC*' -o " + again).status,
            0);
  EXPECT_EQ(plte(Slurp(again + "/PIC/ONE.png")), std::string(768, '\x42'));

  // pak image with several images writes NAME.png each into the -o folder.
  const std::string images = folder + "/images";
  EXPECT_EQ(RunPak("image " + out + "/PIC/ONE.WBM " + out + "/PIC/ONE.WBM " + again + "/PIC/ONE.WBM --palette " +
                   folder + "/other.act -o " + images)
                .status,
            0);
  EXPECT_EQ(Tree(images).size(), 1u);  // the same leaf three times
  EXPECT_EQ(plte(Slurp(images + "/ONE.png")), std::string(768, '\x42'));
  EXPECT_EQ(RunPak("image " + out + "/PIC/ONE.WBM " + out + "/FAKE.WBM -o " + images).status, 3);
}

TEST(Manifest, RoundTripsAndRefusesMalformedText) {
  Manifest manifest;
  manifest.archiveBytes = 1234;
  manifest.archiveHash = 0xfedcba9876543210ULL;
  manifest.version = 3;
  manifest.entries.push_back({0, "955c2e545854", 2, 1, 65535, 0x01d0000000000000ULL, 7, 0x1234, "D/表 x.TXT"});
  manifest.entries.push_back({1, "2e2e", 1, 0, 0, 0, 0, std::nullopt, ""});
  const std::string text = FormatManifest(manifest);
  std::string error;
  const std::optional<Manifest> back = ParseManifest(text, error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(FormatManifest(*back), text);
  EXPECT_EQ(back->entries[0].path, "D/表 x.TXT");
  EXPECT_FALSE(back->entries[1].hash);

  const std::string header = "pak-manifest 1\narchive_bytes 1\narchive_fnv64 0\nversion 3\n";
  const std::string good = "entry\t0\t41\t0\t0\t0\t0\t1\t-\t-\n";
  const std::string bad[] = {
      "",
      "pak-manifest 2\n",
      header + "entry_count 2\n" + good,                                       // count differs
      header + "entry_count 1\n" + "entry\t1\t41\t0\t0\t0\t0\t1\t-\t-\n",      // index out of order
      header + "entry_count 1\n" + "entry\t0\t41\t256\t0\t0\t0\t1\t-\t-\n",    // method over 255
      header + "entry_count 1\n" + "entry\t0\t41\t0\t0\t65536\t0\t1\t-\t-\n",  // aux value over 16 bits
      header + "entry_count 1\n" + "entry\t0\t41\t0\t0\t0\t0\t4294967296\t-\t-\n",
      header + "entry_count 1\n" + "entry\t0\t41\t0\t0\t0\t99999999999999999999\t1\t-\t-\n",
      header + "entry_count 1\n" + "entry\t0\t41\t0\t0\t0\t0\t1\tXYZ\t-\n",  // hash not hex
      header + "entry_count 1\n" + "entry\t0\t41\t0\t0\t0\t0\t1\t-\n",       // a field short
      header + "entry_count 1\n" + good + "garbage\n",
      "pak-manifest 1\nversion 4\nentry_count 0\n",
      "pak-manifest 1\nentry_count 0\n",  // no version
  };
  for (const std::string& text : bad) {
    EXPECT_FALSE(ParseManifest(text, error)) << text;
  }
  EXPECT_TRUE(ParseManifest(header + "entry_count 1\n" + good, error)) << error;
}

// Entries of all four methods, some in folders, with times.
std::vector<PakWriteEntry> MixedEntries(int count) {
  std::vector<PakWriteEntry> entries;
  for (int i = 0; i < count; ++i) {
    std::string text;
    for (int line = 0; line < 50 + i * 13; ++line)
      text += "entry " + std::to_string(i) + " line " + std::to_string(line) + "\n";
    const std::vector<std::uint8_t> data = Bytes(text);
    PakWriteEntry entry;
    entry.name = (i % 3 == 0 ? "D" + std::to_string(i % 2) + "\\F" : "F") + std::to_string(i);
    entry.extension = "TXT";
    entry.method = static_cast<std::uint8_t>(i % 4);
    entry.unpackedSize = static_cast<std::uint32_t>(data.size());
    entry.auxFlag = static_cast<std::uint8_t>(i % 2);
    entry.auxValue = static_cast<std::uint16_t>(i * 7);
    entry.fileTime = FileTimeOf(2010, 1 + i % 12, 1 + i, 12, i, 0);
    switch (entry.method) {
      case 1:
        entry.packed = EncodeMariel(data);
        break;
      case 2:
        entry.packed = EncodeCocotte(data);
        break;
      case 3:
        entry.packed = data;
        for (std::uint8_t& byte : entry.packed) byte = static_cast<std::uint8_t>(~byte);
        break;
      default:
        entry.packed = data;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

TEST(PakExtractParallel, SameTreeWithOneOrFourJobs) {
  const std::string folder = TestFolder("PakExtractParallel");
  const std::string archive = folder + "/mixed.pak";
  WriteFileBytes(archive, WritePak(3, MixedEntries(24)));
  ASSERT_EQ(RunPak("x -q -j 1 " + archive + " -o " + folder + "/one").status, 0);
  ASSERT_EQ(RunPak("x -q -j 4 " + archive + " -o " + folder + "/four").status, 0);
  const auto one = Tree(folder + "/one");
  EXPECT_EQ(one.size(), 24u + 2u);  // and the folders D0, D1
  EXPECT_EQ(one, Tree(folder + "/four"));
  for (const auto& [path, contents] : one) {
    struct stat a, b;
    ASSERT_EQ(lstat((folder + "/one/" + path).c_str(), &a), 0);
    ASSERT_EQ(lstat((folder + "/four/" + path).c_str(), &b), 0);
    if (S_ISREG(a.st_mode)) {
      EXPECT_EQ(a.st_mtime, b.st_mtime) << path;
    }
  }
}

using GetArchiveInfoFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, std::uint32_t, HostBlock*);
using GetFileFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, char*, std::uint32_t, ProgressCallback,
                                          std::int32_t);

TEST(PakRepack, UnchangedIsIdenticalChangedReadsBackThroughThePlugIn) {
  const std::string folder = TestFolder("PakRepack");
  const std::vector<PakWriteEntry> entries = MixedEntries(8);
  // The entries changed below: 0 None, 1 Mariel, 2 Cocotte (emptied), 3 NotCode, 6 Cocotte.
  ASSERT_EQ(entries[0].method, 0);
  ASSERT_EQ(entries[3].method, 3);
  // The writer's layout, and a foreign one: directory first, gaps between
  // the data, a refused name, a broken entry.
  PakBuilder foreign(3);
  foreign.DirectoryFirst();
  foreign.Add({.name = "..\\EVIL", .data = Bytes("evil")});
  foreign.Add({.name = "BROKEN", .data = {0, 0, 0, 0x10, 'a'}, .method = 1, .unpackedSize = 9});
  for (const PakWriteEntry& entry : entries) {
    foreign.Add({.name = entry.name,
                 .extension = entry.extension,
                 .data = entry.packed,
                 .method = entry.method,
                 .unpackedSize = entry.unpackedSize,
                 .auxFlag = entry.auxFlag,
                 .auxValue = entry.auxValue,
                 .fileTime = entry.fileTime});
  }
  std::vector<std::uint8_t> foreignBytes = foreign.Build();
  foreignBytes.resize(foreignBytes.size() + 5, 0xEE);  // trailing bytes
  WriteFileBytes(folder + "/foreign.pak", foreignBytes);
  WriteFileBytes(folder + "/plain.pak", WritePak(3, entries));

  for (const char* leaf : {"plain.pak", "foreign.pak"}) {
    const std::string original = folder + "/" + leaf;
    const std::string out = folder + "/" + leaf + ".d";
    const std::string manifest = out + ".manifest";
    const int expected = std::string(leaf) == "foreign.pak" ? 2 : 0;
    ASSERT_EQ(RunPak("x -q " + original + " -o " + out + " --manifest " + manifest).status, expected) << leaf;
    ASSERT_EQ(RunPak("repack " + original + " " + out + " --manifest " + manifest + " -o " + original + ".same").status,
              0)
        << leaf;
    EXPECT_TRUE(ReadFileBytes(original + ".same") == ReadFileBytes(original)) << leaf;
    // No overwrite of an existing output.
    EXPECT_EQ(RunPak("repack " + original + " " + out + " --manifest " + manifest + " -o " + original + ".same").status,
              2);
  }

  // One file of each method changed in the plain archive: the plug-in
  // reads every entry of the rebuilt archive, the changed ones with their
  // new bytes and their old methods, times and aux values.
  const std::string out = folder + "/plain.pak.d";
  for (const char* changed : {"D0/F0.TXT", "F1.TXT", "D0/F6.TXT", "D1/F3.TXT"}) {
    WriteFileBytes(out + "/" + changed, Bytes(std::string("changed bytes of ") + changed + ", changed bytes\n"));
  }
  WriteFileBytes(out + "/F2.TXT", {});  // and one emptied
  const std::string rebuilt = folder + "/rebuilt.pak";
  ASSERT_EQ(RunPak("repack " + folder + "/plain.pak " + out + " --manifest " + out + ".manifest -o " + rebuilt).status,
            0);
  Module module(PAKREAD_MODULE);
  ASSERT_TRUE(module.Loaded());
  const auto getArchiveInfo = module.Get<GetArchiveInfoFn>("GetArchiveInfo");
  const auto getFile = module.Get<GetFileFn>("GetFile");
  HostBlock list = nullptr;
  const std::string path = HostPath(folder, "rebuilt.pak");
  ASSERT_EQ(getArchiveInfo(path.c_str(), 0, 0, &list), 0);
  ASSERT_EQ(module.Size(list), entries.size() * sizeof(FileInfoRecord) + 1);
  const std::string plainPath = HostPath(folder, "plain.pak");
  HostBlock plainList = nullptr;
  ASSERT_EQ(getArchiveInfo(plainPath.c_str(), 0, 0, &plainList), 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    FileInfoRecord record, before;
    std::memcpy(&record, static_cast<const std::uint8_t*>(list) + i * sizeof record, sizeof record);
    std::memcpy(&before, static_cast<const std::uint8_t*>(plainList) + i * sizeof before, sizeof before);
    EXPECT_STREQ(record.fileName, before.fileName);
    EXPECT_STREQ(record.methodName, before.methodName);
    EXPECT_EQ(record.timestamp, before.timestamp);
    EXPECT_EQ(record.auxValue, before.auxValue);
    HostBlock block = nullptr;
    ASSERT_EQ(getFile(path.c_str(), static_cast<std::int32_t>(record.position), reinterpret_cast<char*>(&block), 0x100,
                      nullptr, 0),
              0)
        << record.fileName;
    const auto* bytes = static_cast<const char*>(block);
    const std::string got(bytes, bytes + module.Size(block));
    module.Free(block);
    std::string want = std::string(record.fileName);
    for (char& c : want) c = c == '\\' ? '/' : c;
    EXPECT_EQ(got, Slurp(out + "/" + want)) << record.fileName;
  }
  module.Free(list);
  module.Free(plainList);

  // A changed file in the foreign archive: rewritten in the writer's layout,
  // the refused and the broken entry copied through as they were.
  const std::string foreignOut = folder + "/foreign.pak.d";
  WriteFileBytes(foreignOut + "/F1.TXT", Bytes("new F1\n"));
  const std::string foreignNew = folder + "/foreign.new.pak";
  ASSERT_EQ(RunPak("repack " + folder + "/foreign.pak " + foreignOut + " --manifest " + foreignOut + ".manifest -o " +
                   foreignNew)
                .status,
            0);
  const std::string before = RunPak("list --json " + folder + "/foreign.pak | sed 's/\"position\": [0-9]*, //'").out;
  const std::string after = RunPak("list --json " + foreignNew + " | sed 's/\"position\": [0-9]*, //'").out;
  EXPECT_NE(before, after);  // F1's sizes changed
  EXPECT_EQ(RunPak("cat " + foreignNew + " F1.TXT").out, "new F1\n");
  EXPECT_EQ(RunPak("cat " + foreignNew + " '..\\EVIL'").out, "evil");
  EXPECT_EQ(RunPak("cat " + foreignNew + " BROKEN").status, 2);
  const PakRun test = RunPak("test " + foreignNew);
  EXPECT_EQ(test.out, "BROKEN: broken data (3)\n9 of 10 entries OK\n");
  for (const char* kept : {"D0/F0.TXT", "F2.TXT", "D1/F3.TXT"}) {
    std::string raw = kept;
    for (char& ch : raw) ch = ch == '/' ? '\\' : ch;
    EXPECT_EQ(RunPak("cat " + foreignNew + " '" + raw + "'").out, Slurp(foreignOut + "/" + kept)) << kept;
  }
}

// A Mariel stream of one literal and then back-references of 65,535 bytes
// at distance 1: groups of 32 items (4 bytes of flags, 3 per item).
std::vector<std::uint8_t> LongMarielStream(int groups, std::uint32_t& unpacked) {
  std::vector<std::uint8_t> packed;
  unpacked = 0;
  for (int group = 0; group < groups; ++group) {
    const std::uint32_t flags = group == 0 ? 0x7FFFFFFF : 0xFFFFFFFF;
    for (int k = 0; k < 4; ++k) packed.push_back(static_cast<std::uint8_t>(flags >> (8 * k)));
    for (int item = 0; item < 32; ++item) {
      if (group == 0 && item == 0) {
        packed.push_back('z');
        unpacked += 1;
      } else {
        for (const std::uint8_t byte : {0xF0, 0xFF, 0xFF}) packed.push_back(byte);
        unpacked += 65535;
      }
    }
  }
  return packed;
}

TEST(PakExtractInterrupt, LeavesNoPartialFileAndExits130) {
  const std::string folder = TestFolder("PakExtractInterrupt");
  std::uint32_t unpacked = 0;
  const std::vector<std::uint8_t> packed = LongMarielStream(48, unpacked);
  PakBuilder builder(2);
  for (const char* name : {"BIG1", "BIG2", "BIG3", "BIG4"}) {
    builder.Add({.name = name, .data = packed, .method = 1, .unpackedSize = unpacked});
  }
  const std::string archive = folder + "/big.pak";
  WriteFileBytes(archive, builder.Build());
  const std::string out = folder + "/out";

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    execl(PAK_TOOL, PAK_TOOL, "extract", "-q", "-j", "1", archive.c_str(), "-o", out.c_str(), nullptr);
    _exit(127);
  }
  // Interrupt while the first entry's temporary file exists, whatever the
  // speed of the decoder and the disk: then at least three entries remain.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool writing = false;
  while (!writing && std::chrono::steady_clock::now() < deadline) {
    std::error_code error;
    for (const auto& item : fs::directory_iterator(out, error)) {
      if (item.path().filename().string().rfind(".pak-", 0) == 0) writing = true;
    }
    if (!writing) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  // Whatever was under way is gone: every file left is complete, and no
  // temporary file remains.
  std::size_t files = 0;
  for (const auto& item : fs::directory_iterator(out)) {
    ++files;
    EXPECT_EQ(fs::file_size(item.path()), unpacked) << item.path() << ": partial file left";
  }
  EXPECT_LT(files, 4u);
}

}  // namespace
