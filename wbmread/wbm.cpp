// The byte-level half of the image module: header checks, the picture
// record, the bitmap header, row order and colour tables.
#include <cassert>
#include <cstring>

#include "bytes.h"
#include "wbm.h"

bool IsWbmHeader(const InputSource& input) {
  if (input.size < kWbmHeaderBytes) return false;
  if (AvailableFrom(input) < kWbmMagicBytes) return false;
  return ReadLe32(StartOf(input)) == kWbmMagic;
}

ResultCode ReadWbmHeader(const InputSource& input, WbmHeader& header) {
  const std::uint32_t available = AvailableFrom(input);
  if (available < kWbmMagicBytes) return UnsupportedFormat;
  const std::uint8_t* bytes = StartOf(input);
  if (ReadLe32(bytes) != kWbmMagic) return UnsupportedFormat;
  if (available < kWbmHeaderBytes) return BrokenData;
  header.width = ReadLe16(bytes + kWbmWidthOffset);
  header.height = ReadLe16(bytes + kWbmHeightOffset);
  return Success;
}

ResultCode ReadWbmImage(const InputSource& input, WbmImage& image) {
  WbmHeader header;
  const ResultCode result = ReadWbmHeader(input, header);
  if (result != Success) return result;
  // At most 65535 x 65535: exact in 64 bits.
  const std::uint64_t pixelBytes = std::uint64_t{header.width} * header.height;
  const std::uint64_t afterHeader = AvailableFrom(input) - kWbmHeaderBytes;
  if (pixelBytes > afterHeader) return BrokenData;
  image.header = header;
  image.pixels = {StartOf(input) + kWbmHeaderBytes, static_cast<std::size_t>(pixelBytes)};
  return Success;
}

ResultCode ReadWbmInfo(const InputSource& input, PictureInfoRecord& record) {
  WbmHeader header;
  const ResultCode result = ReadWbmHeader(input, header);
  if (result != Success) return result;
  PictureInfoRecord filled;
  std::memset(&filled, 0, sizeof filled);
  filled.width = header.width;
  filled.height = header.height;
  filled.colorDepth = 8;
  std::memcpy(&record, &filled, sizeof filled);
  return Success;
}

void FillBitmapInfoHeader(BITMAPINFOHEADER& header, const WbmHeader& image) {
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = image.width;
  header.biHeight = image.height;
  header.biPlanes = 1;
  header.biBitCount = 8;
}

void CopyRowsBottomUp(std::uint8_t* destination, const std::uint8_t* source, std::size_t destinationStride,
                      std::size_t rowBytes, std::size_t rowCount) {
  assert(rowBytes <= destinationStride);
  if (rowBytes == 0) return;  // also keeps memcpy away from a null source
  for (std::size_t i = 0; i < rowCount; ++i) {
    std::memcpy(destination + i * destinationStride, source + (rowCount - 1 - i) * rowBytes, rowBytes);
  }
}

void FillColorsFromTable(const std::uint8_t (&table)[kColorTableBytes], RGBQUAD (&colors)[kPaletteEntries]) {
  for (std::size_t n = 0; n < kPaletteEntries; ++n) {
    colors[n].rgbRed = table[3 * n];
    colors[n].rgbGreen = table[3 * n + 1];
    colors[n].rgbBlue = table[3 * n + 2];
    colors[n].rgbReserved = 0;
  }
}

void FillGreyRamp(RGBQUAD (&colors)[kPaletteEntries]) {
  for (std::size_t n = 0; n < kPaletteEntries; ++n) {
    const auto level = static_cast<BYTE>(n);
    colors[n] = {level, level, level, 0};
  }
}
