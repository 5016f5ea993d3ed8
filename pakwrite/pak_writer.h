// Writing PAK archives: entry names, the directory, the layout.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct PakWriteEntry {
  std::string name;       // raw bytes (code page 932), at most 21
  std::string extension;  // raw bytes, at most 3; empty: none
  std::uint8_t method = 0;
  std::vector<std::uint8_t> packed;
  std::uint32_t unpackedSize = 0;
  std::uint8_t auxFlag = 0;
  std::uint16_t auxValue = 0;
  std::uint64_t fileTime = 0;  // FILETIME ticks, version 3 only
};

// Splits a raw entry name "stem.ext" at its last dot into the name and
// extension fields, or explains why it cannot be stored: a stem over 21
// bytes or an extension over 3 (a double-byte character is never split, so
// such a name is refused rather than cut), a NUL byte, a lead byte without
// its trail byte, or a name that would read back differently (an empty
// extension after a dot). The result reads back as exactly raw.
struct EntryNameFields {
  std::string name;
  std::string extension;
};
std::optional<EntryNameFields> SplitEntryName(std::string_view raw, std::string& why);

// Bytes of the archive: header, the entries' packed data in order, then
// the directory. Version 2 or 3 (3 stores fileTime). Throws
// std::length_error when the archive would not fit the format's 32-bit
// offsets (2 GiB).
std::vector<std::uint8_t> WritePak(int version, std::span<const PakWriteEntry> entries);

// FILETIME ticks whose calendar fields are the local standard time of a
// POSIX time: what the reader, taking the stored fields as local standard
// time, turns back into seconds. standardOffsetWest is the local standard
// time's offset in seconds west of UTC.
std::uint64_t FileTimeOfLocal(std::int64_t seconds, std::int64_t standardOffsetWest);
