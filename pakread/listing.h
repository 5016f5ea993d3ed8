// Text forms of an entry, its time, the host's FileInfoRecord and the
// lookup by name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "main.h"
#include "result.h"

//   FileInfoRecord (428 bytes, byte-packed)
//   +0   methodName    8 bytes, NUL-padded
//   +8   position      uint32: archive offset of the entry's directory record
//   +12  packedSize    uint32
//   +16  unpackedSize  uint32
//   +20  timestamp     int32: seconds since 1970 UTC, 0 when none
//   +24  path          200 bytes, all zero
//   +224 fileName      200 bytes: EntryName, NUL-terminated
//   +424 auxValue      uint32
#pragma pack(push, 1)
struct FileInfoRecord {
  char methodName[8];
  std::uint32_t position;
  std::uint32_t packedSize;
  std::uint32_t unpackedSize;
  std::int32_t timestamp;
  char path[200];
  char fileName[200];
  std::uint32_t auxValue;
};
#pragma pack(pop)

static_assert(sizeof(FileInfoRecord) == 428);
static_assert(offsetof(FileInfoRecord, methodName) == 0);
static_assert(offsetof(FileInfoRecord, position) == 8);
static_assert(offsetof(FileInfoRecord, packedSize) == 12);
static_assert(offsetof(FileInfoRecord, unpackedSize) == 16);
static_assert(offsetof(FileInfoRecord, timestamp) == 20);
static_assert(offsetof(FileInfoRecord, path) == 24);
static_assert(offsetof(FileInfoRecord, fileName) == 224);
static_assert(offsetof(FileInfoRecord, auxValue) == 424);

// "None", "Mariel", "Cocotte", "NotCode"; "HyPack" for 4 to 255.
const char* MethodNameOf(std::uint8_t method);

// Writes name[.extension] and a NUL into destination, whose first 26 bytes
// the caller has zeroed; never splits a double-byte character of the ANSI
// code page. Returns the length, at most 25.
std::size_t EntryName(const PakEntry& entry, char* destination);

// Local-time reading of the stored calendar fields, as mktime with the
// daylight flag clear: 0 for a zero or rejected file time, -1 when the year
// lies outside 1970 to 2038 or the result outside 0 to 2^31 - 1.
std::int32_t TimestampOf(std::uint32_t fileTimeLow, std::uint32_t fileTimeHigh);

// The same conversion with the time zone given: standardOffsetWest is the
// local standard time's offset in seconds west of UTC.
std::int32_t TimestampOfFields(int year, int month, int day, int hour, int minute, int second,
                               std::int64_t standardOffsetWest);

// Fills all 428 bytes of record from entry i of directory.
void FillRecord(FileInfoRecord& record, const PakEntry& entry, const PakDirectory& directory,
                std::int32_t i);

// The lookup of GetFileInfo: the first entry whose EntryName equals
// requested (byte-wise; with ignoreCase every byte of both names goes
// through the a-z to A-Z table). Writes record only on Success; BrokenData
// when no entry matches or the directory is out of range, UnsupportedFormat
// when the header test fails.
ResultCode FindEntry(const std::uint8_t* bytes, std::uint32_t available, const char* requested,
                     bool ignoreCase, FileInfoRecord& record);
