// An archive opened for the pak tool: mapped, header tested, directory
// checked, entries with their decoded names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "input.h"
#include "listing.h"
#include "main.h"
#include "mapped_file.h"
#include "platform.h"

struct ArchiveEntry {
  FileInfoRecord record;
  std::string rawName;  // EntryName bytes, code page 932
  std::string name;     // decoded to UTF-8
};

class Archive {
 public:
  // Opens path with the archive starting at offset. On failure prints one
  // line on stderr and returns the exit status (data error or not-a-PAK);
  // 0 on success.
  int Open(const std::string& path, std::uint32_t offset = 0);

  const std::vector<ArchiveEntry>& Entries() const { return entries_; }

  // Decodes entry i into a LocalAlloc block (freed by the caller with
  // LocalFree) or returns the failure's code.
  ResultCode Extract(const ArchiveEntry& entry, HLOCAL* block, ProgressCallback callback = nullptr,
                     std::int32_t userData = 0) const;

 private:
  std::string path_;
  MappedFile file_;
  InputSource input_;
  std::vector<ArchiveEntry> entries_;
};

// What a result code means, for messages.
const char* ResultText(ResultCode code);
