#include "listing.h"

#include <cstring>
#include <ctime>

#include "platform.h"

namespace {

// Copies a NUL-padded field of at most limit bytes, stopping at its first
// NUL and never splitting a double-byte character: a lead byte is copied
// only together with its trail byte. Returns the bytes copied.
std::size_t CopyNameField(const std::uint8_t* field, std::size_t limit, char* destination) {
  std::size_t copied = 0;
  while (copied < limit && field[copied] != 0) {
    if (IsDBCSLeadByte(field[copied])) {
      if (copied + 1 >= limit || field[copied + 1] == 0) break;
      destination[copied] = static_cast<char>(field[copied]);
      destination[copied + 1] = static_cast<char>(field[copied + 1]);
      copied += 2;
    } else {
      destination[copied] = static_cast<char>(field[copied]);
      copied += 1;
    }
  }
  return copied;
}

// Local standard time's offset from UTC in seconds west, as the C runtime
// reads it from the system (TZ where set).
std::int64_t StandardOffsetWest() {
#ifdef _WIN32
  _tzset();
  return _timezone;
#else
  tzset();
  return timezone;
#endif
}

// Days from 1970-01-01 to the given proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

unsigned char UpperAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

bool NamesEqual(const char* left, const char* right, bool ignoreCase) {
  for (std::size_t i = 0;; ++i) {
    auto a = static_cast<unsigned char>(left[i]);
    auto b = static_cast<unsigned char>(right[i]);
    if (ignoreCase) {
      a = UpperAscii(a);
      b = UpperAscii(b);
    }
    if (a != b) return false;
    if (a == 0) return true;
  }
}

}  // namespace

const char* MethodNameOf(std::uint8_t method) {
  switch (method) {
    case MethodNone: return "None";
    case MethodMariel: return "Mariel";
    case MethodCocotte: return "Cocotte";
    case MethodNotCode: return "NotCode";
    default: return "HyPack";
  }
}

std::size_t EntryName(const PakEntry& entry, char* destination) {
  std::size_t length = CopyNameField(entry.name, kEntryNameBytes, destination);
  if (entry.extension[0] != 0) {
    destination[length] = '.';
    length += 1 + CopyNameField(entry.extension, kEntryExtensionBytes, destination + length + 1);
  }
  destination[length] = '\0';
  return length;
}

std::int32_t TimestampOfFields(int year, int month, int day, int hour, int minute, int second,
                               std::int64_t standardOffsetWest) {
  // The same answers as a 32-bit mktime, whatever the width of time_t here.
  if (year < 1970 || year > 2038) return -1;
  const std::int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                               second + standardOffsetWest;
  if (seconds < 0 || seconds > INT32_MAX) return -1;
  return static_cast<std::int32_t>(seconds);
}

std::int32_t TimestampOf(std::uint32_t fileTimeLow, std::uint32_t fileTimeHigh) {
  if (fileTimeLow == 0 && fileTimeHigh == 0) return 0;
  FILETIME fileTime;
  fileTime.dwLowDateTime = fileTimeLow;
  fileTime.dwHighDateTime = fileTimeHigh;
  SYSTEMTIME fields;
  if (!FileTimeToSystemTime(&fileTime, &fields)) return 0;
  return TimestampOfFields(fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute,
                           fields.wSecond, StandardOffsetWest());
}

void FillRecord(FileInfoRecord& record, const PakEntry& entry, const PakDirectory& directory,
                std::int32_t i) {
  std::memset(&record, 0, sizeof record);
  const char* methodName = MethodNameOf(entry.method);
  std::memcpy(record.methodName, methodName, std::strlen(methodName));
  record.packedSize = entry.packedSize;
  record.unpackedSize = entry.unpackedSize;
  record.timestamp = TimestampOf(entry.fileTimeLow, entry.fileTimeHigh);
  if (entry.auxFlag != 0) record.auxValue = entry.auxValue;
  char name[kEntryNameBufferBytes] = {};
  const std::size_t length = EntryName(entry, name);
  std::memcpy(record.fileName, name, length);
  // A directory from OpenDirectory ends within a 32-bit input.
  record.position = static_cast<std::uint32_t>(EntryPosition(directory, i).value_or(0));
}

ResultCode FindEntry(const std::uint8_t* bytes, std::uint32_t available, const char* requested,
                     bool ignoreCase, FileInfoRecord& record) {
  if (!IsPakHeader(bytes, available)) return UnsupportedFormat;
  const std::optional<PakDirectory> directory = OpenDirectory(bytes, available);
  if (!directory || requested == nullptr) return BrokenData;
  for (std::int32_t i = 0; i < directory->header.entryCount; ++i) {
    const PakEntry entry = CopyEntry(*directory, i);
    char name[kEntryNameBufferBytes] = {};
    EntryName(entry, name);
    if (NamesEqual(name, requested, ignoreCase)) {
      FillRecord(record, entry, *directory, i);
      return Success;
    }
  }
  return BrokenData;
}
