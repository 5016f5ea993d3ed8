// Archives written by `pak create` (tests/fixtures, recipe in
// make_fixtures.sh), listed and extracted through the module's exports:
// every entry comes back byte for byte, natively and under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixture_content.h"
#include "host.h"
#include "listing.h"

namespace {

using GetArchiveInfoFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, std::uint32_t, HostBlock*);
using GetFileFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, char*, std::uint32_t, ProgressCallback, std::int32_t);

TEST(CreatedArchives, EveryEntryExtractsExactly) {
  Module module(PAKREAD_MODULE);
  ASSERT_TRUE(module.Loaded());
  const auto getArchiveInfo = module.Get<GetArchiveInfoFn>("GetArchiveInfo");
  const auto getFile = module.Get<GetFileFn>("GetFile");
  const std::vector<FixtureFile> files = FixtureFiles();

  for (const char* leaf : {"created_auto.pak", "created_mariel.pak", "created_cocotte.pak"}) {
    const std::string path = HostPath(PAK_FIXTURES_DIR, leaf);
    HostBlock list = nullptr;
    ASSERT_EQ(getArchiveInfo(path.c_str(), 0, 0, &list), 0) << leaf;
    ASSERT_EQ(module.Size(list), files.size() * sizeof(FileInfoRecord) + 1) << leaf;
    for (std::size_t i = 0; i < files.size(); ++i) {
      FileInfoRecord record;
      std::memcpy(&record, static_cast<const std::uint8_t*>(list) + i * sizeof record, sizeof record);
      EXPECT_EQ(std::string(record.fileName), files[i].entryName) << leaf;
      EXPECT_EQ(record.unpackedSize, files[i].bytes.size()) << leaf << " " << record.fileName;
      HostBlock block = nullptr;
      ASSERT_EQ(getFile(path.c_str(), static_cast<std::int32_t>(record.position), reinterpret_cast<char*>(&block), 0x100,
                        nullptr, 0),
                0)
          << leaf << " " << record.fileName << " " << record.methodName;
      const auto* bytes = static_cast<const std::uint8_t*>(block);
      EXPECT_TRUE(std::vector<std::uint8_t>(bytes, bytes + module.Size(block)) == files[i].bytes)
          << leaf << " " << record.fileName << " " << record.methodName;
      module.Free(block);
    }
    module.Free(list);
  }
}

}  // namespace
