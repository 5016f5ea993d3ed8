// The archive module's exports.
#include <cstdint>
#include <cstring>

#include "bytes.h"
#include "export_guard.h"
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
