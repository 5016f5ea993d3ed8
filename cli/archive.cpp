#include "archive.h"

#include <new>

#include "command.h"
#include "extract.h"
#include "names.h"
#include "text.h"

int Archive::Open(const std::string& path, std::uint32_t offset, const std::string& encoding) {
  path_ = path;
  std::string error;
  if (!file_.Open(path, error)) return Fail(path, error, kExitData);
  const std::span<const std::uint8_t> bytes = file_.Bytes();
  if (offset > bytes.size()) {
    return Fail(path, "offset " + std::to_string(offset) + " lies beyond the end of the file", kExitData);
  }
  if (bytes.size() - offset > UINT32_MAX) return Fail(path, "archive larger than 4 GiB", kExitData);
  const std::uint8_t* start = bytes.data() + offset;
  const auto available = static_cast<std::uint32_t>(bytes.size() - offset);
  if (!IsPakHeader(start, available)) {
    return Fail(path, "not a PAK archive (no \"HyPack\" header of version 2 or 3)", kExitNotFormat);
  }
  const std::optional<PakDirectory> directory = OpenDirectory(start, available);
  if (!directory) return Fail(path, "broken archive: the directory lies outside the file", kExitData);
  directory_ = *directory;
  input_.base = start;
  input_.size = available;
  entries_.reserve(static_cast<std::size_t>(directory->header.entryCount));
  for (std::int32_t i = 0; i < directory->header.entryCount; ++i) {
    ArchiveEntry entry;
    entry.fields = CopyEntry(*directory, i);
    FillRecord(entry.record, entry.fields, *directory, i);
    entry.rawName = entry.record.fileName;
    entry.name = DecodeNameEscaped(entry.rawName, encoding);
    entries_.push_back(std::move(entry));
  }
  return kExitOk;
}

ResultCode Archive::Extract(const ArchiveEntry& entry, HLOCAL* block, ProgressCallback callback,
                            std::int32_t userData) const {
  InputSource input = input_;
  input.argument = static_cast<std::int32_t>(entry.record.position);
  // The decoders throw ESpiError (Aborted from the callback, BrokenData,
  // OutOfMemory) past ExtractEntry, which has freed the block by then.
  try {
    return ExtractEntry(input, path_.c_str(), block, callback, userData);
  } catch (const ESpiError& error) {
    *block = nullptr;
    return static_cast<ResultCode>(error.code);
  } catch (const std::bad_alloc&) {
    *block = nullptr;
    return OutOfMemory;
  }
}

const char* ResultText(ResultCode code) {
  switch (code) {
    case Success: return "success";
    case NotImplemented: return "not implemented";
    case Aborted: return "aborted";
    case UnsupportedFormat: return "unsupported format";
    case BrokenData: return "broken data";
    case OutOfMemory: return "out of memory";
    case FileError: return "file error";
    case InternalError: return "internal error";
  }
  return "unknown result";
}
