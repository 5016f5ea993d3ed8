#include "manifest.h"

#include <cinttypes>
#include <cstdio>
#include <sstream>

std::uint64_t Fnv1a64(std::span<const std::uint8_t> bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const std::uint8_t byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

namespace {

std::string Hex64(std::uint64_t value) {
  char text[20];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

bool ParseUnsigned(const std::string& text, int base, std::uint64_t limit, std::uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    // value * base + digit <= limit, tested without wrapping.
    if (static_cast<std::uint64_t>(digit) > limit ||
        value > (limit - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) {
      return false;
    }
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
  }
  return true;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields(1);
  for (const char c : line) {
    if (c == '\t') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace

std::string FormatManifest(const Manifest& manifest) {
  std::string out = "pak-manifest 1\n";
  out += "archive_bytes " + std::to_string(manifest.archiveBytes) + "\n";
  out += "archive_fnv64 " + Hex64(manifest.archiveHash) + "\n";
  out += "version " + std::to_string(manifest.version) + "\n";
  out += "entry_count " + std::to_string(manifest.entries.size()) + "\n";
  for (const ManifestEntry& entry : manifest.entries) {
    out += "entry\t" + std::to_string(entry.index) + "\t" + (entry.nameHex.empty() ? "-" : entry.nameHex) + "\t" +
           std::to_string(entry.method) + "\t" + std::to_string(entry.auxFlag) + "\t" + std::to_string(entry.auxValue) +
           "\t" + std::to_string(entry.fileTime) + "\t" + std::to_string(entry.unpackedSize) + "\t" +
           (entry.hash ? Hex64(*entry.hash) : "-") + "\t" + (entry.path.empty() ? "-" : entry.path) + "\n";
  }
  return out;
}

std::optional<Manifest> ParseManifest(const std::string& text, std::string& error) {
  Manifest manifest;
  std::istringstream in(text);
  std::string line;
  std::size_t number = 0;
  std::uint64_t count = 0;
  bool sawCount = false;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(number) + ": " + why;
    return std::nullopt;
  };
  while (std::getline(in, line)) {
    ++number;
    if (number == 1) {
      if (line != "pak-manifest 1") return fail("not a pak manifest of version 1");
      continue;
    }
    std::uint64_t value = 0;
    const std::size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "archive_bytes") {
      if (!ParseUnsigned(rest, 10, UINT64_MAX, manifest.archiveBytes)) return fail("bad archive_bytes");
    } else if (key == "archive_fnv64") {
      if (!ParseUnsigned(rest, 16, UINT64_MAX, manifest.archiveHash)) return fail("bad archive_fnv64");
    } else if (key == "version") {
      if (!ParseUnsigned(rest, 10, 3, value) || value < 2) return fail("bad version");
      manifest.version = static_cast<unsigned>(value);
    } else if (key == "entry_count") {
      if (!ParseUnsigned(rest, 10, INT32_MAX, count)) return fail("bad entry_count");
      sawCount = true;
    } else if (line.starts_with("entry\t")) {
      const std::vector<std::string> fields = SplitTabs(line);
      if (fields.size() != 10) return fail("an entry line needs 10 tab-separated fields");
      ManifestEntry entry;
      std::uint64_t hash = 0;
      if (!ParseUnsigned(fields[1], 10, UINT32_MAX, value)) return fail("bad index");
      entry.index = static_cast<std::uint32_t>(value);
      if (entry.index != manifest.entries.size()) return fail("entries out of order");
      entry.nameHex = fields[2] == "-" ? "" : fields[2];
      if (!ParseUnsigned(fields[3], 10, 255, value)) return fail("bad method");
      entry.method = static_cast<unsigned>(value);
      if (!ParseUnsigned(fields[4], 10, 255, value)) return fail("bad aux flag");
      entry.auxFlag = static_cast<unsigned>(value);
      if (!ParseUnsigned(fields[5], 10, 65535, value)) return fail("bad aux value");
      entry.auxValue = static_cast<unsigned>(value);
      if (!ParseUnsigned(fields[6], 10, UINT64_MAX, entry.fileTime)) return fail("bad file time");
      if (!ParseUnsigned(fields[7], 10, UINT32_MAX, value)) return fail("bad unpacked size");
      entry.unpackedSize = static_cast<std::uint32_t>(value);
      if (fields[8] != "-") {
        if (!ParseUnsigned(fields[8], 16, UINT64_MAX, hash)) return fail("bad hash");
        entry.hash = hash;
      }
      entry.path = fields[9] == "-" ? "" : fields[9];
      manifest.entries.push_back(std::move(entry));
    } else if (!line.empty()) {
      return fail("unknown line");
    }
  }
  if (number == 0) return fail("empty file");
  if (!sawCount || count != manifest.entries.size()) return fail("entry_count does not match the entry lines");
  if (manifest.version == 0) return fail("no version line");
  return manifest;
}
