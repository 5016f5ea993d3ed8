// The image module as a host sees it: wbmread.spi loaded by path, exports
// found by name, blocks released with the host's LocalFree.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host.h"
#include "spi.h"
#include "wbmread_fixture.h"

#ifndef WBMREAD_MODULE
#error "WBMREAD_MODULE must name the module under test"
#endif

namespace {

using GetPluginInfoFn = std::int32_t(SPI_CALL*)(std::int32_t, char*, std::int32_t);
using IsSupportedFn = std::int32_t(SPI_CALL*)(const char*, SpiHandleOrBlock);
using GetPictureInfoFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, std::uint32_t, void*);
using GetPictureFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, std::uint32_t, HostBlock*, HostBlock*,
                                             ProgressCallback, std::int32_t);

constexpr std::size_t kRecordBytes = 26;
constexpr std::uint8_t kUntouched = 0xAB;
HostBlock const kUnwritten = reinterpret_cast<HostBlock>(std::uintptr_t{0x5A5A0});

class WbmreadExports : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(module.Loaded()) << WBMREAD_MODULE;
    for (void* symbol : {reinterpret_cast<void*>(getPluginInfo), reinterpret_cast<void*>(isSupported),
                         reinterpret_cast<void*>(getPictureInfo), reinterpret_cast<void*>(getPicture),
                         reinterpret_cast<void*>(getPreview)}) {
      ASSERT_NE(symbol, nullptr);
    }
  }

  Module module{WBMREAD_MODULE};
  GetPluginInfoFn getPluginInfo = module.Get<GetPluginInfoFn>("GetPluginInfo");
  IsSupportedFn isSupported = module.Get<IsSupportedFn>("IsSupported");
  GetPictureInfoFn getPictureInfo = module.Get<GetPictureInfoFn>("GetPictureInfo");
  GetPictureFn getPicture = module.Get<GetPictureFn>("GetPicture");
  GetPictureFn getPreview = module.Get<GetPictureFn>("GetPreview");
};

int callbackCalls = 0;
std::int32_t SPI_CALL StopAtOnce(std::int32_t, std::int32_t, std::int32_t) {
  ++callbackCalls;
  return 1;
}

// The two blocks of one GetPicture or GetPreview call, as the host got them.
struct Picture {
  std::int32_t result = 0;
  HostBlock info = kUnwritten;
  HostBlock pixels = kUnwritten;
  std::vector<std::uint8_t> infoBytes, pixelBytes;
};

Picture Call(const Module& module, GetPictureFn function, const char* source, std::int32_t length,
             std::uint32_t flag) {
  Picture picture;
  picture.result = function(source, length, flag, &picture.info, &picture.pixels, StopAtOnce, 77);
  if (picture.result == 0) {
    const auto* info = static_cast<const std::uint8_t*>(picture.info);
    const auto* pixels = static_cast<const std::uint8_t*>(picture.pixels);
    picture.infoBytes.assign(info, info + module.Size(picture.info));
    picture.pixelBytes.assign(pixels, pixels + module.Size(picture.pixels));
    module.Free(picture.info);
    module.Free(picture.pixels);
  }
  return picture;
}

TEST_F(WbmreadExports, PluginInfo) {
  struct Case {
    std::int32_t infoNo, bufferLength, count;
    const char* text;  // null: buffer untouched
  };
  const Case cases[] = {
      {0, 16, 4, "00IN"},
      {1, 100, 48, "KOGADO WBM file import library Ver 3.00 by QIRNE"},
      {1, 7, 6, "KOGADO"},
      {2, 100, 5, "*.WBM"},
      {3, 100, 15, "KOGADO WBM file"},
      {0, 1, 0, nullptr},
      {4, 100, 0, nullptr},
      {-1, 100, 0, nullptr},
  };
  for (const Case& c : cases) {
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(getPluginInfo(c.infoNo, buffer, c.bufferLength), c.count) << c.infoNo << " " << c.bufferLength;
    if (c.text == nullptr) {
      EXPECT_EQ(buffer[0], 'x') << c.infoNo;
    } else {
      EXPECT_STREQ(buffer, c.text);
    }
  }
}

TEST_F(WbmreadExports, IsSupportedBlockAndHandle) {
  for (const auto& [start, answer] : std::vector<std::pair<std::string, int>>{
           {"!WBM", 1}, {"!wbm", 0}, {"!WBm", 0}, {std::string("HyPack\0\2", 8), 0}}) {
    std::vector<std::uint8_t> block(2048, 0);
    std::memcpy(block.data(), start.data(), start.size());
    EXPECT_EQ(isSupported("image.wbm", reinterpret_cast<SpiHandleOrBlock>(block.data())), answer) << start;
  }

  const std::string folder = TestFolder("WbmIsSupported");
  const std::string packed = HostPath(folder, "packed.dat");
  const std::string empty = HostPath(folder, "empty.wbm");
  WriteFileBytes(packed, Embedded(WbmBytes(4, 4), 100, 10));
  WriteFileBytes(empty, {});
  HostFile file(packed);
  ASSERT_TRUE(file.Open());
  file.Seek(100);
  EXPECT_EQ(isSupported(nullptr, file.Handle()), 1);
  EXPECT_EQ(file.Position(), 100);
  file.Seek(0);
  EXPECT_EQ(isSupported(nullptr, file.Handle()), 0);
  EXPECT_EQ(file.Position(), 0);
  HostFile emptyFile(empty);
  ASSERT_TRUE(emptyFile.Open());
  EXPECT_EQ(isSupported(nullptr, emptyFile.Handle()), 1);  // cannot be mapped
}

TEST_F(WbmreadExports, Results) {
  const std::string folder = TestFolder("WbmResults");
  const std::vector<std::uint8_t> image = WbmBytes(5, 3);
  WriteFileBytes(HostPath(folder, "good.wbm"), image);
  WriteFileBytes(HostPath(folder, "empty.wbm"), {});
  WriteFileBytes(HostPath(folder, "other.wbm"), ColorTable(40));
  WriteFileBytes(HostPath(folder, "header.wbm"), {'!', 'W', 'B', 'M', 5, 0, 3, 0});
  WriteFileBytes(HostPath(folder, "rows.wbm"), std::vector<std::uint8_t>(image.begin(), image.end() - 1));
  struct Case {
    const char* what;
    const char* file;  // null: image as a memory block
    std::uint32_t flag;
    std::int32_t infoResult, pictureResult;
  };
  const Case cases[] = {
      {"memory", nullptr, 1, 0, 0},
      {"memory, other bits set", nullptr, 0x101, 0, 0},
      {"file, other bits set", "good.wbm", 0x100, 0, 0},
      {"input kind 2", nullptr, 2, -1, -1},
      {"input kind 3", "good.wbm", 3, -1, -1},
      {"input kind 4", nullptr, 4, -1, -1},
      {"input kind 5", nullptr, 5, -1, -1},
      {"input kind 6", nullptr, 6, -1, -1},
      {"input kind 7", "good.wbm", 7, -1, -1},
      {"missing file", "missing.wbm", 0, 6, 6},
      {"empty file", "empty.wbm", 0, 6, 6},
      {"not an image", "other.wbm", 0, 2, 2},
      {"header cut short", "header.wbm", 0, 3, 3},
      {"last pixel missing", "rows.wbm", 0, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = c.file == nullptr ? "" : ModuleName(folder, c.file);
    const char* source = c.file == nullptr ? reinterpret_cast<const char*>(image.data()) : name.c_str();
    const std::int32_t length = c.file == nullptr ? static_cast<std::int32_t>(image.size()) : 0;

    std::uint8_t record[kRecordBytes];
    std::memset(record, kUntouched, sizeof record);
    EXPECT_EQ(getPictureInfo(source, length, c.flag, record), c.infoResult);
    if (c.infoResult == 0) {
      EXPECT_EQ(record[8], 5);
      EXPECT_EQ(record[12], 3);
      EXPECT_EQ(record[20], 8);
    } else {
      for (std::uint8_t byte : record) ASSERT_EQ(byte, kUntouched);
    }

    for (GetPictureFn function : {getPicture, getPreview}) {
      const Picture picture = Call(module, function, source, length, c.flag);
      EXPECT_EQ(picture.result, c.pictureResult);
      if (picture.result == 0) {
        ExpectBitmap(picture.infoBytes.data(), picture.pixelBytes.data(), picture.pixelBytes.size(), 5, 3,
                     Colors::Grey);
      } else {
        EXPECT_EQ(picture.info, nullptr);
        EXPECT_EQ(picture.pixels, nullptr);
      }
    }
  }
}

TEST_F(WbmreadExports, ImageInsideAFileTakesThatFoldersPalette) {
  const std::string folder = TestFolder("WbmInsideFile");
  const std::vector<std::uint8_t> image = WbmBytes(6, 5, 0x12345678);
  WriteFileBytes(HostPath(folder, "game.dat"), Embedded(image, 100, 33));
  WriteFileBytes(HostPath(folder, "colors.act"), ColorTable(768));
  const std::string name = ModuleName(folder, "game.dat");

  std::uint8_t record[kRecordBytes];
  std::memset(record, kUntouched, sizeof record);
  ASSERT_EQ(getPictureInfo(name.c_str(), 100, 0, record), 0);
  std::uint8_t expected[kRecordBytes] = {};
  expected[8] = 6;
  expected[12] = 5;
  expected[20] = 8;
  EXPECT_EQ(std::memcmp(record, expected, sizeof record), 0);

  callbackCalls = 0;
  const Picture picture = Call(module, getPicture, name.c_str(), 100, 0);
  ASSERT_EQ(picture.result, 0);
  ASSERT_EQ(picture.infoBytes.size(), 1064u);
  ExpectBitmap(picture.infoBytes.data(), picture.pixelBytes.data(), picture.pixelBytes.size(), 6, 5,
               Colors::Table);
  const Picture preview = Call(module, getPreview, name.c_str(), 100, 0);
  ASSERT_EQ(preview.result, 0);
  EXPECT_EQ(preview.infoBytes, picture.infoBytes);
  EXPECT_EQ(preview.pixelBytes, picture.pixelBytes);
  EXPECT_EQ(callbackCalls, 0);

  // The same image from memory: no folder, so the grey ramp.
  const Picture memory =
      Call(module, getPicture, reinterpret_cast<const char*>(image.data()), static_cast<std::int32_t>(image.size()), 1);
  ASSERT_EQ(memory.result, 0);
  ExpectBitmap(memory.infoBytes.data(), memory.pixelBytes.data(), memory.pixelBytes.size(), 6, 5, Colors::Grey);
  EXPECT_EQ(memory.pixelBytes, picture.pixelBytes);
}

}  // namespace
