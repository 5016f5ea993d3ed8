// The archive writer: entry names, the layout read back by the reader's
// own directory code, and file times that read back as the same seconds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "listing.h"
#include "main.h"
#include "pak_writer.h"

namespace {

TEST(SplitEntryName, StoresWhatReadsBackAndRefusesTheRest) {
  struct Case {
    std::string raw;
    bool ok;
    std::string name, extension;
  };
  const Case cases[] = {
      {"README.TXT", true, "README", "TXT"},
      {"README", true, "README", ""},
      {"A.B.TXT", true, "A.B", "TXT"},
      {".DAT", true, "", "DAT"},
      {std::string(21, 'N') + ".EXT", true, std::string(21, 'N'), "EXT"},
      {"\x8c\xa9\x96\x7b.TXT", true, "\x8c\xa9\x96\x7b", "TXT"},
      {"\x95\x5c.\x95\x5c", true, "\x95\x5c", "\x95\x5c"},  // trail byte 0x5C
      {std::string(22, 'N') + ".EXT", false, "", ""},
      {std::string(20, 'N') + "\x8c\xa9", false, "", ""},  // 22 bytes: never cut inside a character
      {"NAME.TEXT", false, "", ""},
      {"NAME.", false, "", ""},
      {"", false, "", ""},
      {std::string("A\0B", 3), false, "", ""},
      {"AB\x8c", false, "", ""},  // a lead byte without its trail byte
  };
  for (const Case& c : cases) {
    std::string why;
    const auto fields = SplitEntryName(c.raw, why);
    ASSERT_EQ(fields.has_value(), c.ok) << c.raw << ": " << why;
    if (!fields) {
      EXPECT_FALSE(why.empty());
      continue;
    }
    EXPECT_EQ(fields->name, c.name);
    EXPECT_EQ(fields->extension, c.extension);
    // What the reader makes of the two fields is the raw name again.
    PakEntry entry{};
    std::memcpy(entry.name, fields->name.data(), fields->name.size());
    std::memcpy(entry.extension, fields->extension.data(), fields->extension.size());
    char name[kEntryNameBufferBytes] = {};
    EntryName(entry, name);
    EXPECT_EQ(std::string(name), c.raw);
  }
}

TEST(WritePak, LayoutReadsBack) {
  for (int version : {2, 3}) {
    std::vector<PakWriteEntry> entries(3);
    entries[0] = {.name = "A", .extension = "TXT", .method = 0, .packed = {1, 2, 3}, .unpackedSize = 3};
    entries[1] = {.name = "B", .extension = "", .method = 2, .packed = {9, 9}, .unpackedSize = 40, .auxFlag = 1,
                  .auxValue = 0xBEEF, .fileTime = 126444672000000000ull};
    entries[2] = {.name = "C", .extension = "BIN", .method = 3, .packed = {}, .unpackedSize = 0};
    const std::vector<std::uint8_t> bytes = WritePak(version, entries);
    const std::size_t entryBytes = version == 3 ? 48 : 40;
    ASSERT_EQ(bytes.size(), 16 + 5 + 3 * entryBytes);
    ASSERT_TRUE(IsPakHeader(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    const auto directory = OpenDirectory(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    ASSERT_TRUE(directory);
    EXPECT_EQ(directory->header.entryCount, 3);
    EXPECT_EQ(directory->header.directoryOffset, 5);  // after the data
    const char* names[] = {"A.TXT", "B", "C.BIN"};
    for (std::int32_t i = 0; i < 3; ++i) {
      const PakEntry entry = CopyEntry(*directory, i);
      FileInfoRecord record;
      FillRecord(record, entry, *directory, i);
      EXPECT_STREQ(record.fileName, names[i]);
      EXPECT_EQ(entry.method, entries[i].method);
      EXPECT_EQ(entry.unpackedSize, entries[i].unpackedSize);
      ASSERT_EQ(entry.packedSize, entries[i].packed.size());
      EXPECT_TRUE(std::equal(entries[i].packed.begin(), entries[i].packed.end(), bytes.begin() + 16 + entry.dataOffset));
      EXPECT_EQ(entry.auxFlag, entries[i].auxFlag);
      EXPECT_EQ(entry.auxValue, entries[i].auxValue);
      EXPECT_EQ(entry.fileTimeLow | static_cast<std::uint64_t>(entry.fileTimeHigh) << 32,
                version == 3 ? entries[i].fileTime : 0);
    }
  }
}

TEST(FileTimeOfLocal, ReadsBackAsTheSameSeconds) {
  // Run with TZ=UTC: the reader adds no offset.
  for (std::int64_t seconds : {std::int64_t{0}, std::int64_t{1000000000}, std::int64_t{INT32_MAX}}) {
    const std::uint64_t fileTime = FileTimeOfLocal(seconds, 0);
    EXPECT_EQ(TimestampOf(static_cast<std::uint32_t>(fileTime), static_cast<std::uint32_t>(fileTime >> 32)), seconds);
  }
}

TEST(FileTimeOfLocal, JstReadsBackAsTheSameSeconds) {
  // Run with TZ=JST-9: the fields hold local standard time.
  const std::uint64_t fileTime = FileTimeOfLocal(1000000000, -32400);
  EXPECT_EQ(TimestampOf(static_cast<std::uint32_t>(fileTime), static_cast<std::uint32_t>(fileTime >> 32)), 1000000000);
}

}  // namespace
