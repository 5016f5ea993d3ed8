// The archive module's exports.
#include <cstdint>
#include <cstring>

#include "bytes.h"
#include "export_guard.h"
#include "extract.h"
#include "input.h"
#include "listing.h"
#include "main.h"
#include "platform.h"
#include "plugin_info.h"
#include "spi.h"

namespace {

constexpr PluginInfoTable kArchiveInfo = {{
    "00AM",
    "KOGADO PAK archive extract library Ver 4.04 by QIRNE",
    "*.PAK",
    "KOGADO PAK file",
}};

constexpr std::uint32_t kIgnoreCaseFlag = 0x80;
constexpr std::uint32_t kOutputKindShift = 8;
constexpr std::uint32_t kOutputKindMask = 7;
constexpr std::uint32_t kFileOutput = 0;
constexpr std::uint32_t kMemoryOutput = 1;
constexpr std::uint32_t kIsSupportedMinimumBytes = 16;

bool IsPakInput(const InputSource& input) {
  if (input.size < kIsSupportedMinimumBytes) return false;
  return IsPakHeader(StartOf(input), AvailableFrom(input));
}

// Frees the list block unless the listing succeeded and handed it over.
class ListBlock {
 public:
  explicit ListBlock(HLOCAL* list) : list_(list) {}
  ListBlock(const ListBlock&) = delete;
  ListBlock& operator=(const ListBlock&) = delete;
  ~ListBlock() {
    if (!handedOver_ && *list_ != nullptr) {
      LocalFree(*list_);
      *list_ = nullptr;
    }
  }
  void HandOver() { handedOver_ = true; }

 private:
  HLOCAL* list_;
  bool handedOver_ = false;
};

ResultCode ListArchive(const InputSource& input, HLOCAL* list) {
  const std::uint8_t* bytes = StartOf(input);
  const std::uint32_t available = AvailableFrom(input);
  if (!IsPakHeader(bytes, available)) return UnsupportedFormat;
  if (available < kPakHeaderBytes) return BrokenData;

  // entryCount x 428 + 1 in 64 bits; a negative count or a size beyond a
  // 32-bit request is an allocation that cannot succeed.
  const std::int64_t entryCount = ReadLeS32(bytes + kEntryCountOffset);
  const std::int64_t blockBytes = entryCount * static_cast<std::int64_t>(sizeof(FileInfoRecord)) + 1;
  if (entryCount < 0 || blockBytes > static_cast<std::int64_t>(UINT32_MAX)) return OutOfMemory;
  ListBlock block(list);
  *list = LocalAlloc(LPTR, static_cast<SIZE_T>(blockBytes));
  if (*list == nullptr) return OutOfMemory;

  const std::optional<PakDirectory> directory = OpenDirectory(bytes, available);
  if (!directory) return BrokenData;
  auto* records = static_cast<std::uint8_t*>(*list);
  for (std::int32_t i = 0; i < directory->header.entryCount; ++i) {
    FileInfoRecord record;
    FillRecord(record, CopyEntry(*directory, i), *directory, i);
    std::memcpy(records + static_cast<std::size_t>(i) * sizeof record, &record, sizeof record);
  }
  records[static_cast<std::size_t>(entryCount) * sizeof(FileInfoRecord)] = 0;
  block.HandOver();
  return Success;
}

// Releases the extracted block unless it was handed to the host.
class ExtractedBlock {
 public:
  explicit ExtractedBlock(HLOCAL block) : block_(block) {}
  ExtractedBlock(const ExtractedBlock&) = delete;
  ExtractedBlock& operator=(const ExtractedBlock&) = delete;
  ~ExtractedBlock() {
    if (block_ != nullptr) LocalFree(block_);
  }
  HLOCAL Get() const { return block_; }
  HLOCAL HandOver() {
    HLOCAL block = block_;
    block_ = nullptr;
    return block;
  }

 private:
  HLOCAL block_;
};

// Closes the output file on every path; removes it when the write failed.
class OutputFile {
 public:
  OutputFile(const char* path, HANDLE file) : path_(path), file_(file) {}
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() {
    CloseHandle(file_);
    if (!complete) DeleteFileA(path_);
  }
  bool complete = false;

 private:
  const char* path_;
  HANDLE file_;
};

// The output stage of GetFile, run only after a successful extraction:
// kind 0 writes the block to the file at destination (created or emptied
// now, never before) and frees it; kind 1 hands the block to the host's
// variable at destination. A failed or short write removes the incomplete
// file and reports FileError.
ResultCode DeliverEntry(HLOCAL extracted, char* destination, std::uint32_t flag) {
  ExtractedBlock block(extracted);
  const std::uint32_t kind = (flag >> kOutputKindShift) & kOutputKindMask;
  if (kind == kMemoryOutput) {
    *reinterpret_cast<HLOCAL*>(destination) = block.HandOver();
    return Success;
  }
  if (kind != kFileOutput) throw ESpiError(NotImplemented);
  HANDLE file = CreateFileA(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw ESpiError(FileError);
  OutputFile output(destination, file);
  const auto bytes = static_cast<DWORD>(LocalSize(block.Get()));
  DWORD written = 0;
  if (!WriteFile(file, block.Get(), bytes, &written, nullptr) || written != bytes) throw ESpiError(FileError);
  output.complete = true;
  return Success;
}

}  // namespace

SPI_EXPORT std::int32_t SPI_CALL GetPluginInfo(std::int32_t infoNo, char* buffer, std::int32_t bufferLength) {
  return GuardExport(0, [&] { return CopyPluginInfo(kArchiveInfo, infoNo, buffer, bufferLength); });
}

SPI_EXPORT std::int32_t SPI_CALL IsSupported(const char* /*fileName*/, SpiHandleOrBlock fileHandleOrBlock) {
  return GuardExport(0, [&] { return IsSupportedInput(fileHandleOrBlock, IsPakInput); });
}

SPI_EXPORT std::int32_t SPI_CALL GetArchiveInfo(const char* source, std::int32_t length, std::uint32_t flag,
                                                HLOCAL* list) {
  const std::int32_t result = GuardExport(InternalError, [&]() -> std::int32_t {
    *list = nullptr;
    OpenedInput input;
    const ResultCode opened = OpenInput(source, length, flag, input);
    if (opened != Success) return opened;
    return ListArchive(input.source, list);
  });
  if (result != Success) *list = nullptr;
  return result;
}

SPI_EXPORT std::int32_t SPI_CALL GetFileInfo(const char* source, std::int32_t length, const char* requestedName,
                                             std::uint32_t flag, FileInfoRecord* record) {
  return GuardExport(InternalError, [&]() -> std::int32_t {
    OpenedInput input;
    const ResultCode opened = OpenInput(source, length, flag, input);
    if (opened != Success) return opened;
    FileInfoRecord found;
    const ResultCode result = FindEntry(StartOf(input.source), AvailableFrom(input.source), requestedName, (flag & kIgnoreCaseFlag) != 0, found);
    if (result == Success) std::memcpy(record, &found, sizeof found);
    return result;
  });
}

SPI_EXPORT std::int32_t SPI_CALL GetFile(const char* source, std::int32_t length, char* destination,
                                         std::uint32_t flag, ProgressCallback callback, std::int32_t userData) {
  return GuardExport(InternalError, [&]() -> std::int32_t {
    HLOCAL block = nullptr;
    {
      OpenedInput input;
      const ResultCode opened = OpenInput(source, length, flag, input);
      if (opened != Success) return opened;
      const ResultCode result = ExtractEntry(input.source, input.fromFile ? source : nullptr, &block, callback, userData);
      if (result != Success) return result;
    }  // the archive's view, mapping and file are released before the output stage
    return DeliverEntry(block, destination, flag);
  });
}
