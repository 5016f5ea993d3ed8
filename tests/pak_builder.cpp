#include "pak_builder.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
}

}  // namespace

std::uint64_t FileTimeOf(int year, int month, int day, int hour, int minute, int second) {
  // 1601-01-01 is 134774 days before 1970-01-01.
  const std::int64_t days = DaysFromCivil(year, month, day) + 134774;
  const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<std::uint64_t>(seconds) * 10'000'000ull;
}

std::uint32_t PakBuilder::PositionOf(std::size_t i) const {
  std::uint32_t dataBytes = 0;
  for (const auto& entry : entries_) dataBytes += static_cast<std::uint32_t>(entry.data.size());
  const std::int64_t directory =
      directoryOffset_ ? *directoryOffset_ : (directoryFirst_ ? 0 : static_cast<std::int64_t>(dataBytes));
  return static_cast<std::uint32_t>(16 + directory + static_cast<std::int64_t>(i * EntryBytes()));
}

std::vector<std::uint8_t> PakBuilder::Build() const {
  const std::size_t entryBytes = EntryBytes();
  const std::size_t directoryBytes = entries_.size() * entryBytes;
  std::size_t dataBytes = 0;
  for (const auto& entry : entries_) dataBytes += entry.data.size();

  std::vector<std::uint8_t> bytes(16 + directoryBytes + dataBytes, 0);
  std::memcpy(bytes.data(), "HyPack", 7);
  bytes[7] = versionByte_ ? *versionByte_ : static_cast<std::uint8_t>(version_);
  const std::size_t directoryAt = directoryFirst_ ? 0 : dataBytes;  // from the end of the header
  std::size_t dataAt = directoryFirst_ ? directoryBytes : 0;
  Put32(bytes, 8, static_cast<std::uint32_t>(directoryOffset_ ? *directoryOffset_ : static_cast<std::int32_t>(directoryAt)));
  Put32(bytes, 12, static_cast<std::uint32_t>(entryCount_ ? *entryCount_ : static_cast<std::int32_t>(entries_.size())));

  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const PakFixtureEntry& entry = entries_[i];
    std::copy(entry.data.begin(), entry.data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(16 + dataAt));
    const std::size_t record = 16 + directoryAt + i * entryBytes;
    std::memcpy(&bytes[record], entry.name.data(), std::min<std::size_t>(entry.name.size(), 21));
    std::memcpy(&bytes[record + 21], entry.extension.data(), std::min<std::size_t>(entry.extension.size(), 3));
    Put32(bytes, record + 24, entry.dataOffset ? *entry.dataOffset : static_cast<std::uint32_t>(dataAt));
    const auto size = static_cast<std::uint32_t>(entry.data.size());
    Put32(bytes, record + 28, entry.unpackedSize ? *entry.unpackedSize : size);
    Put32(bytes, record + 32, entry.packedSize ? *entry.packedSize : size);
    bytes[record + 36] = entry.method;
    bytes[record + 37] = entry.auxFlag;
    bytes[record + 38] = static_cast<std::uint8_t>(entry.auxValue);
    bytes[record + 39] = static_cast<std::uint8_t>(entry.auxValue >> 8);
    if (entryBytes == 48) {
      Put32(bytes, record + 40, static_cast<std::uint32_t>(entry.fileTime));
      Put32(bytes, record + 44, static_cast<std::uint32_t>(entry.fileTime >> 32));
    }
    dataAt += entry.data.size();
  }
  return bytes;
}

std::vector<std::uint8_t> Hex(const char* text) {
  std::vector<std::uint8_t> bytes;
  for (const char* p = text; *p != '\0';) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return bytes;
}

std::vector<std::uint8_t> Text(const char* text) { return {text, text + std::strlen(text)}; }
