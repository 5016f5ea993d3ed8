// Archive container: header test, directory bounds, names, times, records
// and the lookup by name, on archives composed by the fixture builder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "listing.h"
#include "main.h"
#include "pak_builder.h"

namespace {

std::vector<std::uint8_t> Header(std::uint8_t version, std::int32_t directoryOffset, std::int32_t entryCount) {
  return PakBuilder(version == 3 ? 3 : 2).Version(version).DirectoryOffset(directoryOffset).EntryCount(entryCount).Build();
}

TEST(IsPakHeader, Table) {
  struct Case {
    std::string bytes;
    bool accepted;
  };
  const Case cases[] = {
      {std::string("HyPack\0\2", 8), true},
      {std::string("HyPack\0\3", 8), true},
      {std::string("HyPack\0\1", 8), false},
      {std::string("HyPack\0\4", 8), false},
      {std::string("HyPack \2", 8), false},
      {std::string("hyPack\0\2", 8), false},
      {std::string("HyPack\0", 7), false},
      {std::string(), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPakHeader(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), static_cast<std::uint32_t>(c.bytes.size())),
              c.accepted)
        << testing::PrintToString(c.bytes);
  }
}

TEST(OpenDirectory, BoundsWithoutWrapAround) {
  struct Case {
    const char* what;
    std::uint8_t version;
    std::int32_t directoryOffset;
    std::int32_t entryCount;
    std::uint32_t available;  // the archive bytes are padded to this length
    bool opens;
  };
  const Case cases[] = {
      {"empty directory in a bare header", 2, 0, 0, 16, true},
      {"one v2 entry, exactly enough bytes", 2, 0, 1, 56, true},
      {"one v2 entry, one byte short", 2, 0, 1, 55, false},
      {"one v3 entry, exactly enough", 3, 0, 1, 64, true},
      {"one v3 entry, one byte short", 3, 0, 1, 63, false},
      {"directory over the header itself", 2, -16, 1, 40, true},
      {"directory before the archive", 2, -17, 1, 100, false},
      {"negative count", 2, 0, -1, 100, false},
      {"huge count", 2, 0, 0x7FFFFFFF, 4096, false},
      {"end past 4 GiB though small modulo 2^32", 2, 0, 107374183, 4096, false},
      {"offset near INT32_MAX", 2, 0x7FFFFFF0, 1, 4096, false},
      {"fewer than 16 bytes", 2, 0, 0, 15, false},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = Header(c.version, c.directoryOffset, c.entryCount);
    bytes.resize(std::max<std::size_t>(bytes.size(), c.available));
    const auto directory = OpenDirectory(bytes.data(), c.available);
    EXPECT_EQ(directory.has_value(), c.opens) << c.what;
    if (directory) {
      EXPECT_EQ(directory->entryBytes, c.version == 3 ? 48u : 40u) << c.what;
      EXPECT_EQ(EntryPosition(*directory, c.entryCount), 16 + c.directoryOffset + c.entryCount * static_cast<std::int64_t>(directory->entryBytes));
    }
  }
}

TEST(EntryPosition, CountsFromTheArchiveStart) {
  PakBuilder builder(2);
  for (const char* name : {"A", "B", "C"}) builder.Add({.name = name, .extension = "", .data = {1, 2, 3}});
  const std::vector<std::uint8_t> bytes = builder.Build();
  const auto directory = OpenDirectory(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  ASSERT_TRUE(directory);
  EXPECT_EQ(EntryPosition(*directory, 0), 16 + 9);
  EXPECT_EQ(EntryPosition(*directory, 2), 16 + 9 + 80);
  EXPECT_EQ(EntryPosition(*directory, 3), 16 + 9 + 120);
  EXPECT_FALSE(EntryPosition(*directory, 4));
  EXPECT_FALSE(EntryPosition(*directory, -1));
  EXPECT_EQ(EntryAt(*directory, 1), bytes.data() + 16 + 9 + 40);
  EXPECT_EQ(EntryAt(*directory, 3), nullptr);
}

TEST(MethodNameOf, AllBytes) {
  const char* expected[] = {"None", "Mariel", "Cocotte", "NotCode"};
  for (int method = 0; method < 256; ++method) {
    EXPECT_STREQ(MethodNameOf(static_cast<std::uint8_t>(method)), method < 4 ? expected[method] : "HyPack");
  }
}

struct NameCase {
  const char* what;
  std::string name;       // the 21-byte field (shorter: NUL-padded)
  std::string extension;  // the 3-byte field
  std::string expected;
};

void ExpectNames(const NameCase* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const NameCase& c = cases[i];
    PakEntry entry{};
    std::memcpy(entry.name, c.name.data(), std::min<std::size_t>(c.name.size(), 21));
    std::memcpy(entry.extension, c.extension.data(), std::min<std::size_t>(c.extension.size(), 3));
    char destination[kEntryNameBufferBytes] = {};
    const std::size_t length = EntryName(entry, destination);
    EXPECT_EQ(std::string(destination, length), c.expected) << c.what;
    EXPECT_EQ(std::strlen(destination), length) << c.what;
  }
}

TEST(EntryName, SingleByteNames) {
  const NameCase cases[] = {
      {"21 letters and TXT", "ABCDEFGHIJKLMNOPQRSTU", "TXT", "ABCDEFGHIJKLMNOPQRSTU.TXT"},
      {"NAME and BM", "NAME", std::string("BM\0", 3), "NAME.BM"},
      {"extension byte 21 zero", "NAME", std::string("\0XY", 3), "NAME"},
      {"empty name", "", "DAT", ".DAT"},
      {"both empty", "", "", ""},
      {"name stops at its NUL", std::string("AB\0CD", 5), "E", "AB.E"},
  };
  ExpectNames(cases, std::size(cases));
}

TEST(EntryName, Cp932NeverSplitsACharacter) {
  const NameCase cases[] = {
      {"20 letters, then a lead byte in byte 20", std::string(20, 'A') + "\x82", "", std::string(20, 'A')},
      {"a whole character", "\x83\x65\x83\x4C", "TXT", "\x83\x65\x83\x4C.TXT"},
      {"trail byte 0x5C", "\x95\x5C", "", "\x95\x5C"},
      {"lead byte followed by NUL", std::string("A\x82\0B", 4), "", "A"},
      {"lead byte at the end of the extension", "N", "T\x82", "N.T"},
      {"whole character in the extension", "N", "\x82\xA0", "N.\x82\xA0"},
      {"lead byte first in the extension", "N", std::string("\x82\0", 2), "N."},
      {"single-byte katakana is not a lead byte", "\xB1\xB2", "", "\xB1\xB2"},
  };
  ExpectNames(cases, std::size(cases));
}

TEST(TimestampOf, ZeroRejectedAndOutOfRange) {
  EXPECT_EQ(TimestampOf(0, 0), 0);
  EXPECT_EQ(TimestampOf(0xFFFFFFFF, 0xFFFFFFFF), 0);  // rejected by the calendar conversion
  const std::uint64_t y1969 = FileTimeOf(1969, 12, 31, 23, 59, 59);
  EXPECT_EQ(TimestampOf(static_cast<std::uint32_t>(y1969), static_cast<std::uint32_t>(y1969 >> 32)), -1);
  const std::uint64_t y2039 = FileTimeOf(2039, 1, 1, 0, 0, 0);
  EXPECT_EQ(TimestampOf(static_cast<std::uint32_t>(y2039), static_cast<std::uint32_t>(y2039 >> 32)), -1);
}

TEST(TimestampOfFields, MktimeSemantics) {
  struct Case {
    int year, month, day, hour, minute, second;
    std::int64_t offsetWest;
    std::int32_t expected;
  };
  const Case cases[] = {
      {1970, 1, 1, 0, 0, 0, 0, 0},
      {2001, 9, 9, 1, 46, 40, 0, 1000000000},
      {2001, 9, 9, 12, 0, 0, -32400, 999993600 + 3 * 3600},
      {2038, 1, 19, 3, 14, 7, 0, INT32_MAX},
      {2038, 1, 19, 3, 14, 8, 0, -1},
      {1970, 1, 1, 8, 59, 59, -32400, -1},  // before 1970 in UTC
      {1970, 1, 1, 9, 0, 0, -32400, 0},
      {1969, 12, 31, 23, 0, 0, 18000, -1},  // the year alone rules it out
      {2038, 12, 31, 0, 0, 0, 0, -1},  // a year in range, a result that is not
      {2000, 2, 29, 0, 0, 0, 0, 951782400},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TimestampOfFields(c.year, c.month, c.day, c.hour, c.minute, c.second, c.offsetWest), c.expected)
        << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":" << c.second
        << " west " << c.offsetWest;
  }
}

TEST(TimestampOf, UtcReadsFieldsAsUtc) {
  const std::uint64_t time = FileTimeOf(2001, 9, 9, 12, 0, 0);
  EXPECT_EQ(TimestampOf(static_cast<std::uint32_t>(time), static_cast<std::uint32_t>(time >> 32)), 1000036800);
}

TEST(TimestampOf, JstReadsFieldsAsLocalStandardTime) {
  // Run with TZ=JST-9: 2001-09-09 12:00:00 local is 03:00:00 UTC.
  const std::uint64_t time = FileTimeOf(2001, 9, 9, 12, 0, 0);
  EXPECT_EQ(TimestampOf(static_cast<std::uint32_t>(time), static_cast<std::uint32_t>(time >> 32)), 1000004400);
}

TEST(FillRecord, AllFields) {
  PakBuilder builder(3);
  builder.Add({.name = "README", .extension = "TXT", .data = {1, 2, 3, 4}, .method = 2, .unpackedSize = 99,
               .auxFlag = 1, .auxValue = 0x1234, .fileTime = FileTimeOf(2001, 9, 9, 1, 46, 40)});
  builder.Add({.name = "B", .extension = "", .data = {5}, .method = 200, .auxFlag = 0, .auxValue = 0x1234});
  const std::vector<std::uint8_t> bytes = builder.Build();
  const auto directory = OpenDirectory(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  ASSERT_TRUE(directory);

  FileInfoRecord record;
  std::memset(&record, 0xAA, sizeof record);
  FillRecord(record, CopyEntry(*directory, 0), *directory, 0);
  EXPECT_EQ(std::string(record.methodName, 8), std::string("Cocotte\0", 8));
  EXPECT_EQ(record.position, builder.PositionOf(0));
  EXPECT_EQ(record.packedSize, 4u);
  EXPECT_EQ(record.unpackedSize, 99u);
  EXPECT_EQ(record.timestamp, 1000000000);
  EXPECT_EQ(std::string(record.path, 200), std::string(200, '\0'));
  EXPECT_EQ(std::string(record.fileName, 200), std::string("README.TXT") + std::string(190, '\0'));
  EXPECT_EQ(record.auxValue, 0x1234u);

  FillRecord(record, CopyEntry(*directory, 1), *directory, 1);
  EXPECT_EQ(std::string(record.methodName, 8), std::string("HyPack\0\0", 8));
  EXPECT_EQ(record.position, builder.PositionOf(1));
  EXPECT_EQ(record.timestamp, 0);
  EXPECT_EQ(record.auxValue, 0u);
}

TEST(FillRecord, Version2HasNoTime) {
  // The same bytes at offsets 40-47 are the next entry's name in version 2.
  PakBuilder builder(2);
  builder.Add({.name = "A", .extension = "", .data = {}});
  builder.Add({.name = "ZZZZZZZZ", .extension = "", .data = {}});
  const std::vector<std::uint8_t> bytes = builder.Build();
  const auto directory = OpenDirectory(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  ASSERT_TRUE(directory);
  FileInfoRecord record;
  FillRecord(record, CopyEntry(*directory, 0), *directory, 0);
  EXPECT_EQ(record.timestamp, 0);
}

TEST(FindEntry, Table) {
  PakBuilder builder(2);
  builder.Add({.name = "README", .extension = "TXT", .data = {1}});
  builder.Add({.name = "\x83\x65", .extension = "DAT", .data = {2, 2}});  // a katakana te: lead 0x83, trail 0x65 'e'
  builder.Add({.name = "README", .extension = "TXT", .data = {3, 3, 3}});
  const std::vector<std::uint8_t> bytes = builder.Build();
  const auto available = static_cast<std::uint32_t>(bytes.size());

  struct Case {
    const char* requested;
    bool ignoreCase;
    ResultCode result;
    std::uint32_t packedSize;
  };
  const Case cases[] = {
      {"README.TXT", false, Success, 1},       // the first of two equal names
      {"readme.txt", false, BrokenData, 0},
      {"readme.txt", true, Success, 1},
      {"DIR\\README.TXT", true, BrokenData, 0},  // a folder never matches
      {"README", false, BrokenData, 0},
      {"\x83\x65.DAT", false, Success, 2},
      {"\x83\x45.dat", true, Success, 2},  // the trail byte 'e' folds too
      {"\x83\x45.DAT", false, BrokenData, 0},
      {"", false, BrokenData, 0},
  };
  for (const Case& c : cases) {
    FileInfoRecord record;
    std::memset(&record, 0xAA, sizeof record);
    EXPECT_EQ(FindEntry(bytes.data(), available, c.requested, c.ignoreCase, record), c.result) << c.requested;
    if (c.result == Success) {
      EXPECT_EQ(record.packedSize, c.packedSize) << c.requested;
    } else {
      EXPECT_EQ(record.packedSize, 0xAAAAAAAAu) << "record written for " << c.requested;
    }
  }
  FileInfoRecord record;
  EXPECT_EQ(FindEntry(bytes.data(), 7, "README.TXT", false, record), UnsupportedFormat);
  EXPECT_EQ(FindEntry(bytes.data(), 12, "README.TXT", false, record), BrokenData);
  EXPECT_EQ(FindEntry(bytes.data(), available - 1, "README.TXT", false, record), BrokenData);
}

}  // namespace
