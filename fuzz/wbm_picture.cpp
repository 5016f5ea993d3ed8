// GetPictureInfo, GetPicture and GetPreview of the image module on memory
// input; the input is the whole image. Checks:
//  - only the codes the exports may give; the host's record untouched and
//    both handles null on every failure;
//  - GetPicture succeeds exactly when GetPictureInfo does and the pixel
//    rows are all there; the record and the bitmap header agree on the size;
//  - the information block is 1064 bytes with the grey ramp (memory input
//    has no folder to find a colour table in), the pixel block stride x
//    height bytes holding the input's rows bottom-up with zero padding;
//  - GetPreview hands out byte for byte the same blocks;
//  - no block outlives the calls but those handed over, which the harness
//    frees.
#include <cstring>

#include "bytes.h"
#include "fuzz_support.h"
#include "module_exports.h"
#include "wbm.h"

namespace {

constexpr std::uint32_t kMemoryInput = 1;

struct Blocks {
  std::int32_t result = 0;
  HLOCAL info = nullptr;
  HLOCAL pixels = nullptr;
};

template <class Export>
Blocks Decode(Export decode, const std::uint8_t* data, std::int32_t length) {
  Blocks blocks;
  blocks.info = &blocks;  // anything but null: the export must overwrite both
  blocks.pixels = &blocks;
  blocks.result = decode(reinterpret_cast<const char*>(data), length, kMemoryInput, &blocks.info, &blocks.pixels,
                         nullptr, 0);
  FUZZ_CHECK(blocks.result == Success || blocks.result == UnsupportedFormat || blocks.result == BrokenData ||
             blocks.result == OutOfMemory);
  if (blocks.result != Success) FUZZ_CHECK(blocks.info == nullptr && blocks.pixels == nullptr);
  return blocks;
}

void CheckBitmap(const Blocks& blocks, const std::uint8_t* data, std::size_t size, const PictureInfoRecord& record) {
  FUZZ_CHECK(LocalSize(blocks.info) == sizeof(BitmapInfo256));
  BitmapInfo256 bitmap;
  std::memcpy(&bitmap, blocks.info, sizeof bitmap);
  const std::uint32_t width = ReadLe16(data + kWbmWidthOffset);
  const std::uint32_t height = ReadLe16(data + kWbmHeightOffset);
  FUZZ_CHECK(bitmap.header.biSize == 40 && bitmap.header.biPlanes == 1 && bitmap.header.biBitCount == 8);
  FUZZ_CHECK(bitmap.header.biWidth == record.width && bitmap.header.biHeight == record.height);
  FUZZ_CHECK(static_cast<std::uint32_t>(record.width) == width && static_cast<std::uint32_t>(record.height) == height);
  for (std::size_t n = 0; n < kPaletteEntries; ++n) {
    const RGBQUAD& color = bitmap.colors[n];
    FUZZ_CHECK(color.rgbRed == n && color.rgbGreen == n && color.rgbBlue == n && color.rgbReserved == 0);
  }
  const std::size_t stride = (width + 3) / 4 * 4;
  FUZZ_CHECK(LocalSize(blocks.pixels) == stride * height);
  FUZZ_CHECK(kWbmHeaderBytes + std::uint64_t{width} * height <= size);
  const auto* pixels = static_cast<const std::uint8_t*>(blocks.pixels);
  for (std::size_t row = 0; row < height; ++row) {
    const std::uint8_t* source = data + kWbmHeaderBytes + (height - 1 - row) * width;
    if (width != 0) FUZZ_CHECK(std::memcmp(pixels + row * stride, source, width) == 0);
    for (std::size_t column = width; column < stride; ++column) FUZZ_CHECK(pixels[row * stride + column] == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LimitOutputBlocks();
  if (size > INT32_MAX) return 0;
  const auto length = static_cast<std::int32_t>(size);
  const long blocksBefore = PakLiveLocalBlocks();

  PictureInfoRecord record;
  std::memset(&record, 0xA5, sizeof record);
  const std::int32_t described = GetPictureInfo(reinterpret_cast<const char*>(data), length, kMemoryInput, &record);
  FUZZ_CHECK(described == Success || described == UnsupportedFormat || described == BrokenData);
  if (described != Success) {
    PictureInfoRecord untouched;
    std::memset(&untouched, 0xA5, sizeof untouched);
    FUZZ_CHECK(std::memcmp(&record, &untouched, sizeof record) == 0);
  }

  const Blocks picture = Decode(GetPicture, data, length);
  const Blocks preview = Decode(GetPreview, data, length);
  FUZZ_CHECK(picture.result == preview.result);
  if (described != Success) FUZZ_CHECK(picture.result == described);
  if (picture.result == Success) {
    FUZZ_CHECK(described == Success);
    CheckBitmap(picture, data, size, record);
    FUZZ_CHECK(LocalSize(preview.info) == LocalSize(picture.info) &&
               std::memcmp(preview.info, picture.info, LocalSize(picture.info)) == 0);
    FUZZ_CHECK(LocalSize(preview.pixels) == LocalSize(picture.pixels) &&
               (LocalSize(picture.pixels) == 0 ||
                std::memcmp(preview.pixels, picture.pixels, LocalSize(picture.pixels)) == 0));
  }
  for (HLOCAL block : {picture.info, picture.pixels, preview.info, preview.pixels}) LocalFree(block);

  FUZZ_CHECK(PakLiveLocalBlocks() == blocksBefore);
  return 0;
}
