// DecodeWbm: the two blocks handed to the host.
#include <cstring>

#include "wbm.h"

namespace {

// A block stored in the host's out-parameter as soon as it exists. Unless
// handed over, the destructor frees it and nulls the out-parameter.
class HostBlock {
 public:
  explicit HostBlock(HLOCAL* out) : out_(out) {}
  HostBlock(const HostBlock&) = delete;
  HostBlock& operator=(const HostBlock&) = delete;
  ~HostBlock() {
    if (handedOver_ || *out_ == nullptr) return;
    LocalFree(*out_);
    *out_ = nullptr;
  }

  // LocalAlloc(LPTR, bytes) into the out-parameter; ESpiError(OutOfMemory)
  // when it fails (or bytes exceed the address space).
  std::uint8_t* Allocate(std::uint64_t bytes) {
    *out_ = bytes > SIZE_MAX ? nullptr : LocalAlloc(LPTR, static_cast<SIZE_T>(bytes));
    if (*out_ == nullptr) throw ESpiError(OutOfMemory);
    return static_cast<std::uint8_t*>(*out_);
  }
  void HandOver() { handedOver_ = true; }

 private:
  HLOCAL* out_;
  bool handedOver_ = false;
};

}  // namespace

ResultCode DecodeWbm(const InputSource& input, const char* imageName, HLOCAL* infoBlock, HLOCAL* pixelBlock) {
  WbmImage image;
  const ResultCode checked = ReadWbmImage(input, image);
  if (checked != Success) return checked;

  const ScopedPaletteFile palette(OpenPaletteFile(imageName));

  // Destroyed in reverse order: the pixel block is freed before the info block.
  HostBlock info(infoBlock);
  std::uint8_t* infoBytes = info.Allocate(sizeof(BitmapInfo256));
  BitmapInfo256 bitmap;
  std::memset(&bitmap, 0, sizeof bitmap);
  FillBitmapInfoHeader(bitmap.header, image.header);
  ReadPalette(palette.Get(), bitmap.colors);
  std::memcpy(infoBytes, &bitmap, sizeof bitmap);

  HostBlock pixels(pixelBlock);
  const std::uint32_t stride = StrideOf(image.header.width);
  std::uint8_t* pixelBytes = pixels.Allocate(std::uint64_t{stride} * image.header.height);
  CopyRowsBottomUp(pixelBytes, image.pixels.data(), stride, image.header.width, image.header.height);

  info.HandOver();
  pixels.HandOver();
  return Success;
}
