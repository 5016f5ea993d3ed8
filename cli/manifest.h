// The manifest that pak extract --manifest writes and pak repack reads: what
// rebuilding the archive needs, one line per directory entry.
//
//   pak-manifest 1
//   archive_bytes N          size of the archive (from its offset on)
//   archive_fnv64 HEX        FNV-1a 64 of those bytes
//   version V
//   entry_count N
//   entry I NAMEHEX METHOD AUXFLAG AUXVALUE FILETIME UNPACKED HASH PATH
//
// Fields of an entry line are separated by one tab; NAMEHEX is the raw name
// (name, '.', extension) in lower-case hex, FILETIME the stored 64-bit ticks,
// HASH the FNV-1a 64 of the extracted bytes ("-" when the entry was not
// written in that run), PATH the file relative to the output folder with
// '/' separators ("-" likewise). PATH is last and may hold spaces.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

std::uint64_t Fnv1a64(std::span<const std::uint8_t> bytes);

struct ManifestEntry {
  std::uint32_t index = 0;
  std::string nameHex;
  unsigned method = 0;
  unsigned auxFlag = 0;
  unsigned auxValue = 0;
  std::uint64_t fileTime = 0;
  std::uint32_t unpackedSize = 0;
  std::optional<std::uint64_t> hash;  // none: not written
  std::string path;                   // empty: not written
};

struct Manifest {
  std::uint64_t archiveBytes = 0;
  std::uint64_t archiveHash = 0;
  unsigned version = 0;
  std::vector<ManifestEntry> entries;
};

std::string FormatManifest(const Manifest& manifest);

// Parses text; none with error set (line number and reason) when a line
// is malformed or the entries are not numbered 0, 1, 2, ...
std::optional<Manifest> ParseManifest(const std::string& text, std::string& error);
