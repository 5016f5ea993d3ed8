// GetArchiveInfo and GetFileInfo of the archive module on memory input;
// the input is the whole archive. Checks:
//  - only the codes the exports may give, and *list null on every failure;
//  - a listing is entryCount x 428 + 1 bytes ending in a zero byte; every
//    record has a known method name, an empty path, a NUL-terminated name
//    of at most 25 bytes and a position whose directory record lies inside
//    the input;
//  - GetFileInfo finds every listed name, exactly and ignoring case, at that
//    entry or at an earlier one of the same name, with the listing's record;
//  - GetFileInfo agrees with GetArchiveInfo about what is not an archive or
//    has a broken directory, and leaves the host's record alone unless it
//    succeeds;
//  - no block outlives the calls but the listing, which the harness frees.
#include <cstring>

#include "bytes.h"
#include "fuzz_support.h"
#include "listing.h"
#include "main.h"
#include "module_exports.h"

namespace {

constexpr std::uint32_t kMemoryInput = 1;
constexpr std::uint32_t kIgnoreCase = 0x80;
// Listed names looked up again per input: bounds the time of one run.
constexpr std::size_t kLookups = 32;
constexpr std::size_t kRecordNameBytes = 26;  // longest entry name and its NUL

bool KnownMethodName(const char (&name)[8]) {
  for (const char* known : {"None", "Mariel", "Cocotte", "NotCode", "HyPack"}) {
    char padded[8] = {};
    std::memcpy(padded, known, std::strlen(known));
    if (std::memcmp(name, padded, sizeof padded) == 0) return true;
  }
  return false;
}

bool AllZero(const char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const char* left, const char* right, bool ignoreCase) {
  for (std::size_t i = 0;; ++i) {
    const char a = ignoreCase ? Upper(left[i]) : left[i];
    const char b = ignoreCase ? Upper(right[i]) : right[i];
    if (a != b) return false;
    if (a == 0) return true;
  }
}

void CheckListing(const std::uint8_t* data, std::size_t size, HLOCAL list) {
  const char* source = reinterpret_cast<const char*>(data);
  const auto length = static_cast<std::int32_t>(size);
  FUZZ_CHECK(list != nullptr && size >= kPakHeaderBytes);
  const std::size_t blockBytes = LocalSize(list);
  FUZZ_CHECK(blockBytes % sizeof(FileInfoRecord) == 1);
  const std::size_t count = blockBytes / sizeof(FileInfoRecord);
  FUZZ_CHECK(count == ReadLe32(data + kEntryCountOffset));
  const auto* records = static_cast<const std::uint8_t*>(list);
  FUZZ_CHECK(records[blockBytes - 1] == 0);
  const std::uint64_t entryBytes = data[kVersionOffset] == 3 ? kEntryBytesV3 : kEntryBytesV2;

  for (std::size_t i = 0; i < count; ++i) {
    FileInfoRecord record;
    std::memcpy(&record, records + i * sizeof record, sizeof record);
    FUZZ_CHECK(KnownMethodName(record.methodName));
    FUZZ_CHECK(AllZero(record.path, sizeof record.path));
    FUZZ_CHECK(std::memchr(record.fileName, 0, kRecordNameBytes) != nullptr);
    FUZZ_CHECK(AllZero(record.fileName + kRecordNameBytes, sizeof record.fileName - kRecordNameBytes));
    FUZZ_CHECK(std::uint64_t{record.position} + entryBytes <= size);
    if (i >= kLookups) continue;
    for (const std::uint32_t flag : {kMemoryInput, kMemoryInput | kIgnoreCase}) {
      FileInfoRecord found;
      std::memset(&found, 0xA5, sizeof found);
      FUZZ_CHECK(GetFileInfo(source, length, record.fileName, flag, &found) == Success);
      FUZZ_CHECK(found.position <= record.position);
      FUZZ_CHECK(SameName(found.fileName, record.fileName, (flag & kIgnoreCase) != 0));
      if (found.position == record.position) FUZZ_CHECK(std::memcmp(&found, &record, sizeof record) == 0);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LimitOutputBlocks();
  if (size > INT32_MAX) return 0;
  const char* source = reinterpret_cast<const char*>(data);
  const auto length = static_cast<std::int32_t>(size);
  const long blocksBefore = PakLiveLocalBlocks();

  HLOCAL list = &list;  // anything but null: the export must overwrite it
  const std::int32_t listed = GetArchiveInfo(source, length, kMemoryInput, &list);
  FUZZ_CHECK(listed == Success || listed == UnsupportedFormat || listed == BrokenData || listed == OutOfMemory);
  if (listed == Success) {
    CheckListing(data, size, list);
    LocalFree(list);
  } else {
    FUZZ_CHECK(list == nullptr);
  }

  FileInfoRecord record;
  std::memset(&record, 0xA5, sizeof record);
  const std::int32_t looked = GetFileInfo(source, length, "README.TXT", kMemoryInput | kIgnoreCase, &record);
  FUZZ_CHECK(looked == Success || looked == UnsupportedFormat || looked == BrokenData);
  if (listed == UnsupportedFormat || listed == BrokenData) FUZZ_CHECK(looked == listed);
  if (looked == UnsupportedFormat) FUZZ_CHECK(listed == UnsupportedFormat);
  if (looked == Success) {
    FUZZ_CHECK(listed == Success || listed == OutOfMemory);
    FUZZ_CHECK(SameName(record.fileName, "README.TXT", true));
  } else {
    FileInfoRecord untouched;
    std::memset(&untouched, 0xA5, sizeof untouched);
    FUZZ_CHECK(std::memcmp(&record, &untouched, sizeof record) == 0);
  }

  FUZZ_CHECK(PakLiveLocalBlocks() == blocksBefore);
  return 0;
}
