#include "input.h"

namespace {

constexpr std::uint32_t kInputKindMask = 7;
constexpr std::uint32_t kFileInput = 0;
constexpr std::uint32_t kMemoryInput = 1;
constexpr std::uint32_t kHostBlockBytes = 2048;
constexpr SpiHandleOrBlock kSmallestBlockAddress = 0x10000;

// Unmaps a view and closes a mapping on every path out of IsSupported.
class ScopedView {
 public:
  explicit ScopedView(HANDLE mapping) : mapping_(mapping) {}
  ScopedView(const ScopedView&) = delete;
  ScopedView& operator=(const ScopedView&) = delete;
  ~ScopedView() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    CloseHandle(mapping_);
  }
  const void* Map() {
    view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
    return view_;
  }

 private:
  HANDLE mapping_;
  const void* view_ = nullptr;
};

}  // namespace

OpenedInput::~OpenedInput() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (mapping_ != nullptr) CloseHandle(mapping_);
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

ResultCode OpenInput(const char* source, std::int32_t length, std::uint32_t flag, OpenedInput& input) {
  const std::uint32_t kind = flag & kInputKindMask;
  if (kind == kMemoryInput) {
    input.source.base = reinterpret_cast<const std::uint8_t*>(source);
    input.source.size = length < 0 ? 0 : static_cast<std::uint32_t>(length);
    input.source.argument = 0;
    return Success;
  }
  if (kind != kFileInput) return NotImplemented;

  input.fromFile = true;
  input.file_ = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (input.file_ == INVALID_HANDLE_VALUE) return FileError;
  const DWORD size = GetFileSize(input.file_, nullptr);
  input.mapping_ = CreateFileMappingA(input.file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (input.mapping_ == nullptr) return FileError;
  input.view_ = MapViewOfFile(input.mapping_, FILE_MAP_READ, 0, 0, 0);
  if (input.view_ == nullptr) return FileError;
  input.source.base = static_cast<const std::uint8_t*>(input.view_);
  input.source.size = size;
  input.source.argument = length;
  return Success;
}

std::int32_t IsSupportedInput(SpiHandleOrBlock fileHandleOrBlock, HeaderTest test) {
  if (fileHandleOrBlock >= kSmallestBlockAddress) {
    InputSource block;
    block.base = reinterpret_cast<const std::uint8_t*>(fileHandleOrBlock);
    block.size = kHostBlockBytes;
    block.argument = 0;
    return test(block) ? 1 : 0;
  }
  HANDLE file = reinterpret_cast<HANDLE>(fileHandleOrBlock);
  const DWORD size = GetFileSize(file, nullptr);
  const DWORD position = SetFilePointer(file, 0, nullptr, FILE_CURRENT);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return 1;
  ScopedView view(mapping);
  const void* bytes = view.Map();
  if (bytes == nullptr) return 1;
  InputSource input;
  input.base = static_cast<const std::uint8_t*>(bytes);
  input.size = size;
  input.argument = static_cast<std::int32_t>(position);
  return test(input) ? 1 : 0;
}
