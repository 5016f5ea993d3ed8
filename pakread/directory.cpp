#include <cstring>

#include "bytes.h"
#include "main.h"

bool IsPakHeader(const std::uint8_t* bytes, std::uint32_t available) {
  if (available < kVersionOffset + 1) return false;
  if (std::memcmp(bytes + kMagicOffset, kPakMagic, kMagicBytes) != 0) return false;
  const std::uint8_t version = bytes[kVersionOffset];
  return version == 2 || version == 3;
}

std::optional<PakDirectory> OpenDirectory(const std::uint8_t* bytes, std::uint32_t available) {
  if (available < kPakHeaderBytes) return std::nullopt;
  PakDirectory directory;
  std::memcpy(directory.header.magic, bytes + kMagicOffset, kMagicBytes);
  directory.header.version = bytes[kVersionOffset];
  directory.header.directoryOffset = ReadLeS32(bytes + kDirectoryOffsetOffset);
  directory.header.entryCount = ReadLeS32(bytes + kEntryCountOffset);
  if (directory.header.version == 2) {
    directory.entryBytes = kEntryBytesV2;
  } else if (directory.header.version == 3) {
    directory.entryBytes = kEntryBytesV3;
  } else {
    return std::nullopt;
  }
  directory.base = bytes;
  // At most 16 + 2^31 + 2^31 * 48: far inside int64.
  const std::int64_t first = static_cast<std::int64_t>(kPakHeaderBytes) + directory.header.directoryOffset;
  const std::int64_t end =
      first + static_cast<std::int64_t>(directory.header.entryCount) * static_cast<std::int64_t>(directory.entryBytes);
  if (directory.header.entryCount < 0 || first < 0 || end > static_cast<std::int64_t>(available)) {
    return std::nullopt;
  }
  return directory;
}

std::optional<std::int64_t> EntryPosition(const PakDirectory& directory, std::int32_t i) {
  if (i < 0 || i > directory.header.entryCount) return std::nullopt;
  return static_cast<std::int64_t>(kPakHeaderBytes) + directory.header.directoryOffset +
         static_cast<std::int64_t>(i) * static_cast<std::int64_t>(directory.entryBytes);
}

PakEntry DecodeEntryRecord(const std::uint8_t (&record)[kEntryBytesV3]) {
  PakEntry entry;
  std::memcpy(entry.name, record + kEntryNameOffset, kEntryNameBytes);
  std::memcpy(entry.extension, record + kEntryExtensionOffset, kEntryExtensionBytes);
  entry.dataOffset = ReadLe32(record + kEntryDataOffsetOffset);
  entry.unpackedSize = ReadLe32(record + kEntryUnpackedSizeOffset);
  entry.packedSize = ReadLe32(record + kEntryPackedSizeOffset);
  entry.method = record[kEntryMethodOffset];
  entry.auxFlag = record[kEntryAuxFlagOffset];
  entry.auxValue = ReadLe16(record + kEntryAuxValueOffset);
  entry.fileTimeLow = ReadLe32(record + kEntryFileTimeOffset);
  entry.fileTimeHigh = ReadLe32(record + kEntryFileTimeOffset + 4);
  return entry;
}

PakEntry CopyEntry(const PakDirectory& directory, std::int32_t i) {
  std::uint8_t record[kEntryBytesV3] = {};
  std::memcpy(record, EntryAt(directory, i), directory.entryBytes);
  return DecodeEntryRecord(record);
}
