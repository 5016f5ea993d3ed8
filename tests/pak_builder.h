// Composes PAK archive bytes for tests: header, version 2 or 3 entries with
// any name bytes, data blocks, and the directory placed before or after the
// data (or wherever a test says), with every field overridable so that
// broken archives are built as easily as good ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct PakFixtureEntry {
  std::string name{};     // raw bytes, up to 21 (longer is cut)
  std::string extension{};  // raw bytes, up to 3
  std::vector<std::uint8_t> data{};// stored bytes (already packed)
  std::uint8_t method = 0;
  std::optional<std::uint32_t> unpackedSize{};// default: data.size()
  std::optional<std::uint32_t> packedSize{};  // default: data.size()
  std::optional<std::uint32_t> dataOffset{};  // default: where data lands
  std::uint8_t auxFlag = 0;
  std::uint16_t auxValue = 0;
  std::uint64_t fileTime = 0;  // version 3 only
};

class PakBuilder {
 public:
  explicit PakBuilder(int version = 2) : version_(version) {}

  PakBuilder& Add(PakFixtureEntry entry) {
    entries_.push_back(std::move(entry));
    return *this;
  }
  PakBuilder& DirectoryFirst(bool first = true) {
    directoryFirst_ = first;
    return *this;
  }
  PakBuilder& DirectoryOffset(std::int32_t offset) {
    directoryOffset_ = offset;
    return *this;
  }
  PakBuilder& EntryCount(std::int32_t count) {
    entryCount_ = count;
    return *this;
  }
  PakBuilder& Version(std::uint8_t version) {
    versionByte_ = version;
    return *this;
  }

  std::size_t EntryBytes() const { return version_ == 3 ? 48 : 40; }

  // Archive offset of entry i's directory record in the built bytes.
  std::uint32_t PositionOf(std::size_t i) const;

  std::vector<std::uint8_t> Build() const;

 private:
  int version_;
  std::vector<PakFixtureEntry> entries_;
  bool directoryFirst_ = false;
  std::optional<std::int32_t> directoryOffset_;
  std::optional<std::int32_t> entryCount_;
  std::optional<std::uint8_t> versionByte_;
};

// Bytes written as hex pairs, spaces ignored: Hex("00000010 616263").
std::vector<std::uint8_t> Hex(const char* text);

// The bytes of a C string, without its terminator.
std::vector<std::uint8_t> Text(const char* text);

// FILETIME ticks of a UTC calendar time (no time-zone conversion).
std::uint64_t FileTimeOf(int year, int month, int day, int hour, int minute, int second);
