// Every platform call an export makes, made to fail in turn. For each
// export call below the walk first runs it as is and counts the calls it
// makes of LocalAlloc, CreateFileA, CreateFileMappingA, MapViewOfFile,
// WriteFile and ReadFile (through the hooks of the module's own copy of
// the platform layer); then, for every point and every n up to that count,
// runs it again with the nth call of that point failing, and checks:
//  - the result the export must give for that failure (the table of each
//    case, one entry per call in the order the export makes them);
//  - what it leaves the host: the list handle null, GetFile's variable
//    untouched and no output file, both picture handles null, the host's
//    record untouched, the host's file position unchanged;
//  - nothing left behind: LocalAlloc and LocalFree in balance and no
//    descriptor open (the sanitizer build checks the heap too).
// Native only: the hooks live in the platform layer's stand-in.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host.h"
#include "pak_builder.h"
#include "wbmread_fixture.h"
#include "win32/fault_hooks.h"

namespace {

using IsSupportedFn = std::int32_t(SPI_CALL*)(const char*, SpiHandleOrBlock);
using GetArchiveInfoFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, std::uint32_t, HostBlock*);
using GetFileInfoFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, const char*, std::uint32_t, void*);
using GetFileFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, char*, std::uint32_t, ProgressCallback,
                                          std::int32_t);
using GetPictureInfoFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, std::uint32_t, void*);
using GetPictureFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, std::uint32_t, HostBlock*, HostBlock*,
                                             ProgressCallback, std::int32_t);

using FailNthCallFn = void (*)(int, unsigned);
using CallCountFn = unsigned (*)(int);
using LiveBlocksFn = long (*)();

HostBlock const kUntouched = reinterpret_cast<HostBlock>(static_cast<std::uintptr_t>(0x5A5A5A5A));
constexpr std::size_t kFileInfoBytes = 428;
constexpr std::size_t kPictureInfoBytes = 26;

const char* const kPointNames[kPakFaultPoints] = {"LocalAlloc",    "CreateFileA", "CreateFileMappingA",
                                                  "MapViewOfFile", "WriteFile",   "ReadFile"};

// One entry per method, each with what it decodes to.
struct MethodEntry {
  const char* method;
  PakFixtureEntry entry;
  std::vector<std::uint8_t> output;
};

std::vector<MethodEntry> MethodEntries() {
  return {
      {"None", {.name = "NONE", .data = Text("plain"), .method = 0}, Text("plain")},
      {"Mariel", {.name = "MAR", .data = Hex("00000010 616263 52"), .method = 1, .unpackedSize = 9}, Text("abcabcabc")},
      {"Cocotte",
       {.name = "A100", .data = Hex("1700 6400 001B4CF1EC000000000000000000196C000013"), .method = 2,
        .unpackedSize = 100},
       std::vector<std::uint8_t>(100, 'a')},
      {"NotCode", {.name = "NOT", .data = Hex("00 5A FF"), .method = 3}, Hex("FF A5 00")},
  };
}

// A module's test hooks, found by name as a host finds the exports.
struct Hooks {
  explicit Hooks(const Module& module)
      : failNthCall(module.Get<FailNthCallFn>("PakFailNthCall")),
        callCount(module.Get<CallCountFn>("PakCallCount")),
        liveBlocks(module.Get<LiveBlocksFn>("PakLiveLocalBlocks")) {}
  bool Found() const { return failNthCall && callCount && liveBlocks; }
  void DisarmAll() const {
    for (int point = 0; point < kPakFaultPoints; ++point) failNthCall(point, 0);
  }
  FailNthCallFn failNthCall;
  CallCountFn callCount;
  LiveBlocksFn liveBlocks;
};

// One export call and what it must give: `run` makes the call, checks what
// the call left the host for the result it got, frees what was handed over
// and answers the outcome ("0", "6", "0 grey ramp", ...); `plain` is the
// outcome with nothing failing and `faults[point][n - 1]` the outcome when
// the nth call of point fails. A point missing from faults must not be
// called at all.
struct Walk {
  std::string name;
  std::function<std::string()> run;
  std::string plain;
  std::map<int, std::vector<std::string>> faults;
};

void RunWalk(const Hooks& hooks, const Walk& walk) {
  SCOPED_TRACE(walk.name);
  hooks.DisarmAll();
  const int handles = OpenHandleCount();
  const long blocks = hooks.liveBlocks();
  ASSERT_EQ(walk.run(), walk.plain) << "with nothing failing";
  for (int point = 0; point < kPakFaultPoints; ++point) {
    const auto expected = walk.faults.find(point);
    const std::size_t calls = expected == walk.faults.end() ? 0 : expected->second.size();
    EXPECT_EQ(hooks.callCount(point), calls) << kPointNames[point] << " calls";
  }
  EXPECT_EQ(OpenHandleCount(), handles);
  EXPECT_EQ(hooks.liveBlocks(), blocks);

  for (const auto& [point, outcomes] : walk.faults) {
    for (unsigned n = 1; n <= outcomes.size(); ++n) {
      SCOPED_TRACE(testing::Message() << kPointNames[point] << " call " << n << " fails");
      hooks.failNthCall(point, n);
      const std::string outcome = walk.run();
      const unsigned made = hooks.callCount(point);
      hooks.failNthCall(point, 0);
      EXPECT_GE(made, n) << "the failing call was never made";
      EXPECT_EQ(outcome, outcomes[n - 1]);
      EXPECT_EQ(OpenHandleCount(), handles) << "a descriptor was left open";
      EXPECT_EQ(hooks.liveBlocks(), blocks) << "a LocalAlloc block was left allocated";
    }
  }
}

class FaultInjection : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    pakread_ = new Module(PAKREAD_MODULE);
    wbmread_ = new Module(WBMREAD_MODULE);
  }
  static void TearDownTestSuite() {
    delete pakread_;
    delete wbmread_;
    pakread_ = wbmread_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(pakread_->Loaded()) << PAKREAD_MODULE;
    ASSERT_TRUE(wbmread_->Loaded()) << WBMREAD_MODULE;
    folder = TestFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
    PakBuilder builder(3);
    for (const MethodEntry& entry : entries) builder.Add(entry.entry);
    for (std::size_t i = 0; i < entries.size(); ++i) positions.push_back(static_cast<std::int32_t>(builder.PositionOf(i)));
    archiveBytes = builder.Build();
    archive = HostPath(folder, "archive.pak");
    WriteFileBytes(archive, archiveBytes);
    image = ModuleName(folder, "image.wbm");
    WriteFileBytes(HostPath(folder, "image.wbm"), WbmBytes(5, 3));
    WriteFileBytes(HostPath(folder, "colors.act"), ColorTable(768));
  }

  static Module* pakread_;
  static Module* wbmread_;
  const std::vector<MethodEntry> entries = MethodEntries();
  std::vector<std::int32_t> positions;
  std::vector<std::uint8_t> archiveBytes;
  std::string folder, archive, image;
};

Module* FaultInjection::pakread_ = nullptr;
Module* FaultInjection::wbmread_ = nullptr;

std::string Code(std::int32_t result) { return std::to_string(result); }

// IsSupported with the host's handle to a file that is not of the module's
// kind: 0 when it can be mapped, 1 (supported) when it cannot.
Walk IsSupportedWalk(const std::string& name, IsSupportedFn isSupported, const std::string& path) {
  return {name,
          [=] {
            HostFile file(path);
            EXPECT_TRUE(file.Open());
            file.Seek(3);
            const std::int32_t answer = isSupported(nullptr, file.Handle());
            EXPECT_EQ(file.Position(), 3) << "the host's file position moved";
            return Code(answer);
          },
          "0",
          {{PakFaultCreateFileMapping, {"1"}}, {PakFaultMapView, {"1"}}}};
}

TEST_F(FaultInjection, ArchiveModule) {
  const Hooks hooks(*pakread_);
  ASSERT_TRUE(hooks.Found());
  const Module& module = *pakread_;
  const auto getArchiveInfo = module.Get<GetArchiveInfoFn>("GetArchiveInfo");
  const auto getFileInfo = module.Get<GetFileInfoFn>("GetFileInfo");
  const auto getFile = module.Get<GetFileFn>("GetFile");
  ASSERT_TRUE(getArchiveInfo && getFileInfo && getFile);
  const std::string archivePath = archive;
  const std::vector<std::uint8_t> bytes = archiveBytes;
  const std::size_t listBytes = entries.size() * kFileInfoBytes + 1;

  auto listing = [&](bool fromMemory) {
    return [=, &module] {
      HostBlock list = kUntouched;
      const std::int32_t result =
          fromMemory ? getArchiveInfo(reinterpret_cast<const char*>(bytes.data()),
                                      static_cast<std::int32_t>(bytes.size()), 1, &list)
                     : getArchiveInfo(archivePath.c_str(), 0, 0, &list);
      if (result != 0) {
        EXPECT_EQ(list, nullptr) << "list not null after a failure";
      } else {
        EXPECT_EQ(module.Size(list), listBytes);
        module.Free(list);
      }
      return Code(result);
    };
  };

  std::vector<Walk> walks = {
      IsSupportedWalk("IsSupported, handle", module.Get<IsSupportedFn>("IsSupported"),
                      HostPath(folder, "image.wbm")),
      {"GetArchiveInfo, file",
       listing(false),
       "0",
       {{PakFaultCreateFile, {"6"}}, {PakFaultCreateFileMapping, {"6"}}, {PakFaultMapView, {"6"}},
        {PakFaultLocalAlloc, {"5"}}}},
      {"GetArchiveInfo, memory", listing(true), "0", {{PakFaultLocalAlloc, {"5"}}}},
      {"GetFileInfo",
       [=] {
         std::uint8_t record[kFileInfoBytes];
         std::memset(record, 0xA5, sizeof record);
         const std::int32_t result = getFileInfo(archivePath.c_str(), 0, "MAR", 0, record);
         if (result != 0) {
           for (std::uint8_t byte : record) EXPECT_EQ(byte, 0xA5) << "record written on failure";
         } else {
           EXPECT_EQ(std::memcmp(record, "Mariel", 7), 0);
         }
         return Code(result);
       },
       "0",
       {{PakFaultCreateFile, {"6"}}, {PakFaultCreateFileMapping, {"6"}}, {PakFaultMapView, {"6"}}}},
  };

  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::int32_t position = positions[i];
    const std::vector<std::uint8_t> output = entries[i].output;
    walks.push_back({std::string("GetFile to memory, ") + entries[i].method,
                     [=, &module] {
                       HostBlock block = kUntouched;
                       const std::int32_t result =
                           getFile(archivePath.c_str(), position, reinterpret_cast<char*>(&block), 0x100, nullptr, 0);
                       if (result != 0) {
                         EXPECT_EQ(block, kUntouched) << "destination written on failure";
                       } else {
                         const auto* data = static_cast<const std::uint8_t*>(block);
                         EXPECT_EQ(std::vector<std::uint8_t>(data, data + module.Size(block)), output);
                         module.Free(block);
                       }
                       return Code(result);
                     },
                     "0",
                     {{PakFaultCreateFile, {"6"}}, {PakFaultCreateFileMapping, {"6"}}, {PakFaultMapView, {"6"}},
                      {PakFaultLocalAlloc, {"5"}}}});
    const std::string outputPath = HostPath(folder, std::string("out-") + entries[i].method + ".bin");
    walks.push_back({std::string("GetFile to a file, ") + entries[i].method,
                     [=] {
                       std::remove(outputPath.c_str());
                       const std::int32_t result =
                           getFile(archivePath.c_str(), position, const_cast<char*>(outputPath.c_str()), 0, nullptr, 0);
                       if (result != 0) {
                         EXPECT_FALSE(FileExists(outputPath)) << "an output file was left";
                       } else {
                         EXPECT_EQ(ReadFileBytes(outputPath), output);
                       }
                       return Code(result);
                     },
                     "0",
                     // CreateFileA: the archive, then the output file.
                     {{PakFaultCreateFile, {"6", "6"}}, {PakFaultCreateFileMapping, {"6"}},
                      {PakFaultMapView, {"6"}}, {PakFaultLocalAlloc, {"5"}}, {PakFaultWriteFile, {"6"}}}});
  }

  for (const Walk& walk : walks) RunWalk(hooks, walk);
}

TEST_F(FaultInjection, ImageModule) {
  const Hooks hooks(*wbmread_);
  ASSERT_TRUE(hooks.Found());
  const Module& module = *wbmread_;
  const auto getPictureInfo = module.Get<GetPictureInfoFn>("GetPictureInfo");
  ASSERT_TRUE(getPictureInfo);
  const std::string imageName = image;

  auto picture = [&](const char* exportName) {
    const auto decode = module.Get<GetPictureFn>(exportName);
    EXPECT_NE(decode, nullptr) << exportName;
    return [=, &module]() -> std::string {
      HostBlock info = kUntouched;
      HostBlock pixels = kUntouched;
      const std::int32_t result = decode(imageName.c_str(), 0, 0, &info, &pixels, nullptr, 0);
      if (result != 0) {
        EXPECT_EQ(info, nullptr);
        EXPECT_EQ(pixels, nullptr);
        return Code(result);
      }
      const auto* infoBytes = static_cast<const std::uint8_t*>(info);
      const bool grey = infoBytes[40 + 4 * 7] == 7 && infoBytes[40 + 4 * 7 + 2] == 7;
      ExpectBitmap(infoBytes, static_cast<const std::uint8_t*>(pixels), module.Size(pixels), 5, 3,
                   grey ? Colors::Grey : Colors::Table);
      module.Free(info);
      module.Free(pixels);
      return grey ? "0 grey ramp" : "0 colour table";
    };
  };

  // CreateFileA: the image, then the colour table; LocalAlloc: the
  // information block, then the pixel block. A colour table that cannot be
  // opened or read gives the grey ramp.
  const std::map<int, std::vector<std::string>> pictureFaults = {
      {PakFaultCreateFile, {"6", "0 grey ramp"}}, {PakFaultCreateFileMapping, {"6"}}, {PakFaultMapView, {"6"}},
      {PakFaultLocalAlloc, {"5", "5"}},          {PakFaultReadFile, {"0 grey ramp"}}};

  const std::vector<Walk> walks = {
      IsSupportedWalk("IsSupported, handle", module.Get<IsSupportedFn>("IsSupported"), archive),
      {"GetPictureInfo",
       [=] {
         std::uint8_t record[kPictureInfoBytes];
         std::memset(record, 0xA5, sizeof record);
         const std::int32_t result = getPictureInfo(imageName.c_str(), 0, 0, record);
         if (result != 0) {
           for (std::uint8_t byte : record) EXPECT_EQ(byte, 0xA5) << "record written on failure";
         } else {
           EXPECT_EQ(record[8], 5);
           EXPECT_EQ(record[12], 3);
         }
         return Code(result);
       },
       "0",
       {{PakFaultCreateFile, {"6"}}, {PakFaultCreateFileMapping, {"6"}}, {PakFaultMapView, {"6"}}}},
      {"GetPicture", picture("GetPicture"), "0 colour table", pictureFaults},
      {"GetPreview", picture("GetPreview"), "0 colour table", pictureFaults},
  };

  for (const Walk& walk : walks) RunWalk(hooks, walk);
}

}  // namespace
