#include "pak_writer.h"

#include <cstring>
#include <stdexcept>

#include "bytes.h"
#include "main.h"
#include "platform.h"

namespace {

// True when every lead byte in field is followed by its trail byte.
bool WholeCharacters(std::string_view field) {
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (IsDBCSLeadByte(static_cast<BYTE>(field[i]))) {
      if (i + 1 >= field.size()) return false;
      ++i;
    }
  }
  return true;
}

}  // namespace

std::optional<EntryNameFields> SplitEntryName(std::string_view raw, std::string& why) {
  if (raw.empty()) {
    why = "empty name";
    return std::nullopt;
  }
  if (raw.find('\0') != std::string_view::npos) {
    why = "name holds a NUL byte";
    return std::nullopt;
  }
  // A dot is never the trail byte of a code page 932 character, so the last
  // dot byte is the last dot character.
  const std::size_t dot = raw.rfind('.');
  EntryNameFields fields;
  if (dot == std::string_view::npos) {
    fields.name = std::string(raw);
  } else {
    fields.name = std::string(raw.substr(0, dot));
    fields.extension = std::string(raw.substr(dot + 1));
    if (fields.extension.empty()) {
      why = "name ends with a dot";
      return std::nullopt;
    }
  }
  if (fields.name.size() > kEntryNameBytes) {
    why = "name longer than 21 bytes in code page 932";
    return std::nullopt;
  }
  if (fields.extension.size() > kEntryExtensionBytes) {
    why = "extension longer than 3 bytes in code page 932";
    return std::nullopt;
  }
  if (!WholeCharacters(fields.name) || !WholeCharacters(fields.extension)) {
    why = "name holds a lead byte without its trail byte";
    return std::nullopt;
  }
  return fields;
}

std::vector<std::uint8_t> WritePak(int version, std::span<const PakWriteEntry> entries) {
  const std::size_t entryBytes = version == 3 ? kEntryBytesV3 : kEntryBytesV2;
  std::uint64_t dataBytes = 0;
  for (const PakWriteEntry& entry : entries) dataBytes += entry.packed.size();
  const std::uint64_t total = kPakHeaderBytes + dataBytes + entries.size() * entryBytes;
  // directoryOffset is a signed 32-bit field counted from the header's end.
  if (dataBytes > INT32_MAX || total > INT32_MAX) throw std::length_error("archive larger than 2 GiB");

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(total), 0);
  std::uint8_t* header = bytes.data();
  std::memcpy(header + kMagicOffset, kPakMagic, kMagicBytes);
  header[kVersionOffset] = static_cast<std::uint8_t>(version);
  WriteLe32(header + kDirectoryOffsetOffset, static_cast<std::uint32_t>(dataBytes));
  WriteLe32(header + kEntryCountOffset, static_cast<std::uint32_t>(entries.size()));

  std::uint8_t* data = header + kPakHeaderBytes;
  std::uint8_t* record = data + dataBytes;
  std::uint32_t dataOffset = 0;
  for (const PakWriteEntry& entry : entries) {
    if (!entry.packed.empty()) std::memcpy(data + dataOffset, entry.packed.data(), entry.packed.size());
    entry.name.copy(reinterpret_cast<char*>(record + kEntryNameOffset), kEntryNameBytes);
    entry.extension.copy(reinterpret_cast<char*>(record + kEntryExtensionOffset), kEntryExtensionBytes);
    WriteLe32(record + kEntryDataOffsetOffset, dataOffset);
    WriteLe32(record + kEntryUnpackedSizeOffset, entry.unpackedSize);
    WriteLe32(record + kEntryPackedSizeOffset, static_cast<std::uint32_t>(entry.packed.size()));
    record[kEntryMethodOffset] = entry.method;
    record[kEntryAuxFlagOffset] = entry.auxFlag;
    WriteLe16(record + kEntryAuxValueOffset, entry.auxValue);
    if (entryBytes == kEntryBytesV3) {
      WriteLe32(record + kEntryFileTimeOffset, static_cast<std::uint32_t>(entry.fileTime));
      WriteLe32(record + kEntryFileTimeOffset + 4, static_cast<std::uint32_t>(entry.fileTime >> 32));
    }
    record += entryBytes;
    dataOffset += static_cast<std::uint32_t>(entry.packed.size());
  }
  return bytes;
}

std::uint64_t FileTimeOfLocal(std::int64_t seconds, std::int64_t standardOffsetWest) {
  // 1601-01-01 lies 11,644,473,600 seconds before 1970-01-01.
  const std::int64_t local = seconds - standardOffsetWest + 11'644'473'600;
  return local <= 0 ? 0 : static_cast<std::uint64_t>(local) * 10'000'000u;
}
