// The archive module as a host sees it: loaded by path, exports found by
// name, blocks released with the host's LocalFree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host.h"
#include "module_suite.h"
#include "listing.h"
#include "pak_builder.h"


namespace {

using GetPluginInfoFn = std::int32_t(SPI_CALL*)(std::int32_t, char*, std::int32_t);
using IsSupportedFn = std::int32_t(SPI_CALL*)(const char*, SpiHandleOrBlock);
using GetArchiveInfoFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, std::uint32_t, HostBlock*);
using GetFileInfoFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, const char*, std::uint32_t, FileInfoRecord*);

HostBlock const kUntouched = reinterpret_cast<HostBlock>(static_cast<std::uintptr_t>(0x5A5A5A5A));

// The bytes behind 100 bytes of something else.
std::vector<std::uint8_t> Shifted(const std::vector<std::uint8_t>& archive) {
  std::vector<std::uint8_t> bytes(100 + archive.size(), 0xEE);
  std::copy(archive.begin(), archive.end(), bytes.begin() + 100);
  return bytes;
}

class PakExports : public ModuleSuite {
 protected:
  static void SetUpTestSuite() { LoadModule(PAKREAD_MODULE); }
  static void TearDownTestSuite() { UnloadModule(); }
  void SetUp() override {
    ModuleSuite::SetUp();
    getPluginInfo = module_->Get<GetPluginInfoFn>("GetPluginInfo");
    isSupported = module_->Get<IsSupportedFn>("IsSupported");
    getArchiveInfo = module_->Get<GetArchiveInfoFn>("GetArchiveInfo");
    getFileInfo = module_->Get<GetFileInfoFn>("GetFileInfo");
    ASSERT_TRUE(getPluginInfo && isSupported && getArchiveInfo && getFileInfo);
  }

  // Three version 2 entries, directory after the data.
  static PakBuilder ThreeEntries() {
    PakBuilder builder(2);
    builder.Add({.name = "README", .extension = "TXT", .data = {1, 2, 3}, .auxFlag = 1, .auxValue = 7});
    builder.Add({.name = "PIC", .extension = "WBM", .data = {4, 5}, .method = 2, .unpackedSize = 40});
    builder.Add({.name = "\x83\x65\x83\x4C", .extension = "DAT", .data = {6}, .method = 3});
    return builder;
  }

  std::string Write(const std::string& leaf, const std::vector<std::uint8_t>& bytes) {
    const std::string path = HostPath(folder, leaf);
    WriteFileBytes(path, bytes);
    return path;
  }

  GetPluginInfoFn getPluginInfo = nullptr;
  IsSupportedFn isSupported = nullptr;
  GetArchiveInfoFn getArchiveInfo = nullptr;
  GetFileInfoFn getFileInfo = nullptr;
};

TEST_F(PakExports, GetPluginInfo) {
  char buffer[80];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(getPluginInfo(0, buffer, 5), 4);
  EXPECT_STREQ(buffer, "00AM");
  EXPECT_EQ(getPluginInfo(1, buffer, 64), 52);
  EXPECT_STREQ(buffer, "KOGADO PAK archive extract library Ver 4.04 by QIRNE");
  EXPECT_EQ(getPluginInfo(2, buffer, 64), 5);
  EXPECT_STREQ(buffer, "*.PAK");
  EXPECT_EQ(getPluginInfo(3, buffer, 64), 15);
  EXPECT_STREQ(buffer, "KOGADO PAK file");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(getPluginInfo(0, buffer, 1), 0);
  EXPECT_EQ(getPluginInfo(4, buffer, 64), 0);
  EXPECT_EQ(getPluginInfo(-1, buffer, 64), 0);
  EXPECT_EQ(buffer[0], 'x');
}

TEST_F(PakExports, IsSupportedWithHostBlock) {
  std::vector<std::uint8_t> block(2048, 0);
  std::memcpy(block.data(), "HyPack\0\2", 8);  // the other 2040 bytes count, zero or not
  EXPECT_EQ(isSupported("x.pak", reinterpret_cast<SpiHandleOrBlock>(block.data())), 1);
  block[7] = 4;
  EXPECT_EQ(isSupported("x.pak", reinterpret_cast<SpiHandleOrBlock>(block.data())), 0);
  std::memcpy(block.data(), "HYPACK\0\3", 8);
  EXPECT_EQ(isSupported("x.pak", reinterpret_cast<SpiHandleOrBlock>(block.data())), 0);
}

TEST_F(PakExports, IsSupportedWithHostHandle) {
  const std::vector<std::uint8_t> archive = ThreeEntries().Build();
  const std::vector<std::uint8_t> shifted = Shifted(archive);
  const std::vector<std::uint8_t> fifteen(archive.begin(), archive.begin() + 15);

  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::int64_t position;
    std::int32_t answer;
  };
  const Case cases[] = {
      {"archive at the start", archive, 0, 1},
      {"archive at byte 100, handle there", shifted, 100, 1},
      {"handle before the archive", shifted, 0, 0},
      {"handle 4 bytes before the end", shifted, static_cast<std::int64_t>(shifted.size()) - 4, 0},
      {"handle beyond the end", shifted, static_cast<std::int64_t>(shifted.size()) + 10, 0},
      {"15-byte file with a good header", fifteen, 0, 0},
      {"empty file cannot be mapped", {}, 0, 1},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string path = Write("file" + std::to_string(index++) + ".pak", c.bytes);
    HostFile file(path);
    ASSERT_TRUE(file.Open()) << path;
    file.Seek(c.position);
    EXPECT_EQ(isSupported("ignored", file.Handle()), c.answer) << c.what;
    EXPECT_EQ(file.Position(), c.position) << c.what << ": the handle moved";
  }
  // Below 0x10000 the value is a handle, even one that is not open.
  EXPECT_EQ(isSupported("ignored", 0xFFFF), 1);
}

TEST_F(PakExports, GetArchiveInfoListsFromFileAndMemory) {
  const PakBuilder builder = ThreeEntries();
  const std::vector<std::uint8_t> archive = builder.Build();
  const std::vector<std::uint8_t> shifted = Shifted(archive);
  const std::string plain = Write("plain.pak", archive);
  const std::string offset = Write("offset.pak", shifted);

  struct Input {
    const char* what;
    const char* source;
    std::int32_t length;
    std::uint32_t flag;
  };
  const Input inputs[] = {
      {"file", plain.c_str(), 0, 0},
      {"file at offset 100", offset.c_str(), 100, 0},
      {"memory", reinterpret_cast<const char*>(archive.data()), static_cast<std::int32_t>(archive.size()), 1},
      {"memory, other bits set", reinterpret_cast<const char*>(archive.data()), static_cast<std::int32_t>(archive.size()), 0x181},
  };
  for (const Input& input : inputs) {
    HostBlock list = kUntouched;
    ASSERT_EQ(getArchiveInfo(input.source, input.length, input.flag, &list), 0) << input.what;
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(module_->Size(list), 3u * 428 + 1) << input.what;
    const auto* bytes = static_cast<const std::uint8_t*>(list);
    FileInfoRecord records[3];
    std::memcpy(records, bytes, sizeof records);
    EXPECT_EQ(bytes[1284], 0);
    EXPECT_STREQ(records[0].fileName, "README.TXT");
    EXPECT_STREQ(records[0].methodName, "None");
    EXPECT_EQ(records[0].auxValue, 7u);
    EXPECT_STREQ(records[1].fileName, "PIC.WBM");
    EXPECT_STREQ(records[1].methodName, "Cocotte");
    EXPECT_EQ(records[1].unpackedSize, 40u);
    EXPECT_EQ(records[1].packedSize, 2u);
    EXPECT_STREQ(records[2].fileName, "\x83\x65\x83\x4C.DAT");
    EXPECT_STREQ(records[2].methodName, "NotCode");
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(records[i].position, builder.PositionOf(i)) << input.what;
    EXPECT_EQ(records[2].position - records[0].position, 80u);
    module_->Free(list);
  }
}

TEST_F(PakExports, GetArchiveInfoEmptyDirectory) {
  const std::vector<std::uint8_t> archive = PakBuilder(3).Build();
  HostBlock list = kUntouched;
  ASSERT_EQ(getArchiveInfo(reinterpret_cast<const char*>(archive.data()), 16, 1, &list), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(module_->Size(list), 1u);
  EXPECT_EQ(*static_cast<const std::uint8_t*>(list), 0);
  module_->Free(list);
}

TEST_F(PakExports, GetArchiveInfoFailures) {
  const std::vector<std::uint8_t> good = ThreeEntries().Build();
  std::vector<std::uint8_t> huge = good;
  huge[12] = 0xFF, huge[13] = 0xFF, huge[14] = 0xFF, huge[15] = 0x7F;
  std::vector<std::uint8_t> negative = good;
  negative[15] = 0x80;
  const std::vector<std::uint8_t> shortDirectory(good.begin(), good.end() - 1);
  const std::string missing = HostPath(folder, "missing.pak");
  const std::string empty = Write("empty.pak", {});
  const std::string notPak = Write("text.pak", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!', '!', '!'});

  auto memory = [](const std::vector<std::uint8_t>& bytes) { return reinterpret_cast<const char*>(bytes.data()); };
  struct Case {
    const char* what;
    const char* source;
    std::int32_t length;
    std::uint32_t flag;
    std::int32_t result;
  };
  const Case cases[] = {
      {"input kind 2", memory(good), static_cast<std::int32_t>(good.size()), 2, -1},
      {"input kind 7", memory(good), static_cast<std::int32_t>(good.size()), 7, -1},
      {"missing file", missing.c_str(), 0, 0, 6},
      {"empty file", empty.c_str(), 0, 0, 6},
      {"not a PAK archive", notPak.c_str(), 0, 0, 2},
      {"offset beyond the file", notPak.c_str(), 1000, 0, 2},
      {"memory length 5", memory(good), 5, 1, 2},
      {"memory length 10, good magic", memory(good), 10, 1, 3},
      {"directory one byte beyond the data", memory(shortDirectory), static_cast<std::int32_t>(shortDirectory.size()), 1, 3},
      {"entryCount 0x7FFFFFFF", memory(huge), static_cast<std::int32_t>(huge.size()), 1, 5},
      {"negative entryCount", memory(negative), static_cast<std::int32_t>(negative.size()), 1, 5},
  };
  for (const Case& c : cases) {
    HostBlock list = kUntouched;
    EXPECT_EQ(getArchiveInfo(c.source, c.length, c.flag, &list), c.result) << c.what;
    EXPECT_EQ(list, nullptr) << c.what;
  }
}

TEST_F(PakExports, GetFileInfo) {
  const PakBuilder builder = ThreeEntries();
  const std::vector<std::uint8_t> archive = builder.Build();
  const std::vector<std::uint8_t> shifted = Shifted(archive);
  const std::string offset = Write("offset.pak", shifted);
  const char* memory = reinterpret_cast<const char*>(archive.data());
  const auto size = static_cast<std::int32_t>(archive.size());

  struct Case {
    const char* what;
    const char* source;
    std::int32_t length;
    const char* name;
    std::uint32_t flag;
    std::int32_t result;
  };
  const Case cases[] = {
      {"exact name", memory, size, "PIC.WBM", 1, 0},
      {"other case, case kept", memory, size, "pic.wbm", 1, 3},
      {"other case, case ignored", memory, size, "pic.wbm", 0x81, 0},
      {"name with a folder", memory, size, "DATA\\PIC.WBM", 0x81, 3},
      {"file at offset 100", offset.c_str(), 100, "PIC.WBM", 0, 0},
      {"input kind 2", memory, size, "PIC.WBM", 2, -1},
      {"not a PAK archive", memory, 5, "PIC.WBM", 1, 2},
  };
  for (const Case& c : cases) {
    FileInfoRecord record;
    std::memset(&record, 0xAA, sizeof record);
    EXPECT_EQ(getFileInfo(c.source, c.length, c.name, c.flag, &record), c.result) << c.what;
    if (c.result == 0) {
      EXPECT_STREQ(record.fileName, "PIC.WBM") << c.what;
      EXPECT_EQ(record.position, builder.PositionOf(1)) << c.what;
      EXPECT_EQ(record.unpackedSize, 40u) << c.what;
    } else {
      EXPECT_EQ(record.position, 0xAAAAAAAAu) << c.what << ": record written on failure";
    }
  }
}

TEST_F(PakExports, Cp932NamesInRecords) {
  // Under Wine this runs with ANSI code page 932.
  PakBuilder builder(2);
  builder.Add({.name = std::string(20, 'A') + "\x82", .extension = "TXT", .data = {1}});
  builder.Add({.name = "\x95\x5C", .extension = "", .data = {1}});
  const std::vector<std::uint8_t> archive = builder.Build();
  HostBlock list = nullptr;
  ASSERT_EQ(getArchiveInfo(reinterpret_cast<const char*>(archive.data()), static_cast<std::int32_t>(archive.size()), 1, &list), 0);
  FileInfoRecord records[2];
  std::memcpy(records, list, sizeof records);
  EXPECT_EQ(std::string(records[0].fileName), std::string(20, 'A') + ".TXT");
  EXPECT_EQ(std::string(records[1].fileName), "\x95\x5C");
  module_->Free(list);
  FileInfoRecord record;
  EXPECT_EQ(getFileInfo(reinterpret_cast<const char*>(archive.data()), static_cast<std::int32_t>(archive.size()), "\x95\x5C", 1, &record), 0);
}

TEST_F(PakExports, JstTimestamps) {
  // Under TZ=JST-9 the stored calendar fields are read as local time.
  PakBuilder builder(3);
  builder.Add({.name = "A", .extension = "", .data = {1}, .fileTime = FileTimeOf(2001, 9, 9, 12, 0, 0)});
  const std::vector<std::uint8_t> archive = builder.Build();
  HostBlock list = nullptr;
  ASSERT_EQ(getArchiveInfo(reinterpret_cast<const char*>(archive.data()), static_cast<std::int32_t>(archive.size()), 1, &list), 0);
  FileInfoRecord record;
  std::memcpy(&record, list, sizeof record);
  EXPECT_EQ(record.timestamp, 1000004400);
  module_->Free(list);
}

}  // namespace
