// PAK archive layout and the directory accessor.
//
// An archive is a 16-byte header, a directory of fixed-size entries and the
// stored data of every entry; all numbers little-endian, all offsets counted
// from the archive's first byte unless said otherwise.
//
//   PakHeader (16 bytes)
//   +0  magic            "HyPack" NUL
//   +7  version          2 or 3
//   +8  directoryOffset  int32, from the end of the header
//   +12 entryCount       int32
//
//   PakEntry (40 bytes in version 2, 48 in version 3)
//   +0  name             21 bytes, NUL-padded, may fill all 21
//   +21 extension        3 bytes, NUL-padded; absent when byte 21 is NUL
//   +24 dataOffset       uint32, from the end of the header
//   +28 unpackedSize     uint32
//   +32 packedSize       uint32
//   +36 method           0 None, 1 Mariel, 2 Cocotte, 3 NotCode
//   +37 auxFlag          nonzero: auxValue goes to the host
//   +38 auxValue         uint16
//   +40 fileTime         FILETIME, version 3 only
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "result.h"

constexpr std::size_t kPakHeaderBytes = 16;
constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kMagicBytes = 7;
constexpr std::size_t kVersionOffset = 7;
constexpr std::size_t kDirectoryOffsetOffset = 8;
constexpr std::size_t kEntryCountOffset = 12;
inline constexpr char kPakMagic[kMagicBytes + 1] = "HyPack";  // with its NUL

constexpr std::size_t kEntryBytesV2 = 40;
constexpr std::size_t kEntryBytesV3 = 48;
constexpr std::size_t kEntryNameOffset = 0;
constexpr std::size_t kEntryNameBytes = 21;
constexpr std::size_t kEntryExtensionOffset = 21;
constexpr std::size_t kEntryExtensionBytes = 3;
constexpr std::size_t kEntryDataOffsetOffset = 24;
constexpr std::size_t kEntryUnpackedSizeOffset = 28;
constexpr std::size_t kEntryPackedSizeOffset = 32;
constexpr std::size_t kEntryMethodOffset = 36;
constexpr std::size_t kEntryAuxFlagOffset = 37;
constexpr std::size_t kEntryAuxValueOffset = 38;
constexpr std::size_t kEntryFileTimeOffset = 40;

// Longest EntryName: 21 + '.' + 3, and its NUL.
constexpr std::size_t kEntryNameBufferBytes = 26;

enum PakMethod : std::uint8_t {
  MethodNone = 0,
  MethodMariel = 1,
  MethodCocotte = 2,
  MethodNotCode = 3,
};

struct PakHeader {
  std::uint8_t magic[kMagicBytes];
  std::uint8_t version;
  std::int32_t directoryOffset;
  std::int32_t entryCount;
};

// One directory entry, decoded from the zero-filled 48-byte copy that every
// use starts from (so a version 2 entry has a zero fileTime).
struct PakEntry {
  std::uint8_t name[kEntryNameBytes];
  std::uint8_t extension[kEntryExtensionBytes];
  std::uint32_t dataOffset;
  std::uint32_t unpackedSize;
  std::uint32_t packedSize;
  std::uint8_t method;
  std::uint8_t auxFlag;
  std::uint16_t auxValue;
  std::uint32_t fileTimeLow;
  std::uint32_t fileTimeHigh;
};

// Parsed view of one archive during one call. Built only by OpenDirectory,
// which has checked that every entry lies within the available bytes.
struct PakDirectory {
  std::size_t entryBytes = 0;
  PakHeader header{};
  const std::uint8_t* base = nullptr;
};

// True when at least 8 bytes are available, they start with "HyPack" NUL,
// and the version byte is 2 or 3.
bool IsPakHeader(const std::uint8_t* bytes, std::uint32_t available);

// After a successful IsPakHeader: the directory, or none when fewer than 16
// bytes are available or the directory does not lie within them (checked
// in 64-bit arithmetic, no wrap-around).
std::optional<PakDirectory> OpenDirectory(const std::uint8_t* bytes, std::uint32_t available);

// Archive offset of entry i; i == entryCount gives the end of the directory.
// None for i < 0 or i > entryCount.
std::optional<std::int64_t> EntryPosition(const PakDirectory& directory, std::int32_t i);

// Address of entry i's bytes for 0 <= i < entryCount, else null.
inline const std::uint8_t* EntryAt(const PakDirectory& directory, std::int32_t i) {
  if (i >= directory.header.entryCount) return nullptr;
  const std::optional<std::int64_t> position = EntryPosition(directory, i);
  const std::uint8_t* p = position ? directory.base + *position : nullptr;
  assert(p);
  return p;
}

// Copies entry i (40 or 48 bytes) into a zero-filled 48-byte record and
// decodes it. REQUIRES: 0 <= i < entryCount of a directory from OpenDirectory.
PakEntry CopyEntry(const PakDirectory& directory, std::int32_t i);

// Decodes a zero-filled 48-byte entry record.
PakEntry DecodeEntryRecord(const std::uint8_t (&record)[kEntryBytesV3]);
