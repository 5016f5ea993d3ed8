// An archive opened for the pak tool: mapped, header tested, directory
// checked, entries with their decoded names.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "input.h"
#include "listing.h"
#include "main.h"
#include "mapped_file.h"
#include "platform.h"

struct ArchiveEntry {
  FileInfoRecord record;
  PakEntry fields;      // the directory record as stored
  std::string rawName;  // EntryName bytes, code page 932
  std::string name;     // decoded to UTF-8, undecodable bytes and '%' as %XX
};

class Archive {
 public:
  // Opens path with the archive starting at offset. On failure prints one
  // line on stderr and returns the exit status (data error or not-a-PAK);
  // 0 on success. Names are decoded with encoding (an iconv name).
  int Open(const std::string& path, std::uint32_t offset = 0, const std::string& encoding = "CP932");

  // The archive's bytes (from the offset on) and its directory.
  std::span<const std::uint8_t> Bytes() const { return {input_.base, input_.size}; }
  const PakDirectory& Directory() const { return directory_; }

  const std::vector<ArchiveEntry>& Entries() const { return entries_; }

  // Decodes entry i into a LocalAlloc block (freed by the caller with
  // LocalFree) or returns the failure's code.
  // Never throws the decoders' exceptions: they become the result.
  ResultCode Extract(const ArchiveEntry& entry, HLOCAL* block, ProgressCallback callback = nullptr,
                     std::int32_t userData = 0) const;

 private:
  std::string path_;
  MappedFile file_;
  InputSource input_;
  PakDirectory directory_;
  std::vector<ArchiveEntry> entries_;
};

// What a result code means, for messages.
const char* ResultText(ResultCode code);
