// The image module's exports.
#include <cstdint>

#include "export_guard.h"
#include "input.h"
#include "platform.h"
#include "plugin_info.h"
#include "spi.h"
#include "wbm.h"

namespace {

constexpr PluginInfoTable kImageInfo = {{
    "00IN",
    "KOGADO WBM file import library Ver 3.00 by QIRNE",
    "*.WBM",
    "KOGADO WBM file",
}};

// GetPicture and GetPreview: the same full-size image. The progress
// callback is accepted and never called.
std::int32_t DecodePicture(const char* source, std::int32_t length, std::uint32_t flag, HLOCAL* infoBlock,
                           HLOCAL* pixelBlock) {
  const std::int32_t result = GuardExport(InternalError, [&]() -> std::int32_t {
    OpenedInput input;
    const ResultCode opened = OpenInput(source, length, flag, input);
    if (opened != Success) return opened;
    // Only a file input has a folder in which to look for a palette.
    return DecodeWbm(input.source, input.fromFile ? source : nullptr, infoBlock, pixelBlock);
  });
  if (result != Success) {
    *infoBlock = nullptr;
    *pixelBlock = nullptr;
  }
  return result;
}

}  // namespace

SPI_EXPORT std::int32_t SPI_CALL GetPluginInfo(std::int32_t infoNo, char* buffer, std::int32_t bufferLength) {
  return GuardExport(0, [&] { return CopyPluginInfo(kImageInfo, infoNo, buffer, bufferLength); });
}

SPI_EXPORT std::int32_t SPI_CALL IsSupported(const char* /*fileName*/, SpiHandleOrBlock fileHandleOrBlock) {
  return GuardExport(0, [&] { return IsSupportedInput(fileHandleOrBlock, IsWbmHeader); });
}

SPI_EXPORT std::int32_t SPI_CALL GetPictureInfo(const char* source, std::int32_t length, std::uint32_t flag,
                                                PictureInfoRecord* info) {
  return GuardExport(InternalError, [&]() -> std::int32_t {
    OpenedInput input;
    const ResultCode opened = OpenInput(source, length, flag, input);
    if (opened != Success) return opened;
    return ReadWbmInfo(input.source, *info);
  });
}

SPI_EXPORT std::int32_t SPI_CALL GetPicture(const char* source, std::int32_t length, std::uint32_t flag,
                                            HLOCAL* infoBlock, HLOCAL* pixelBlock, ProgressCallback /*callback*/,
                                            std::int32_t /*userData*/) {
  return DecodePicture(source, length, flag, infoBlock, pixelBlock);
}

SPI_EXPORT std::int32_t SPI_CALL GetPreview(const char* source, std::int32_t length, std::uint32_t flag,
                                            HLOCAL* infoBlock, HLOCAL* pixelBlock, ProgressCallback /*callback*/,
                                            std::int32_t /*userData*/) {
  return DecodePicture(source, length, flag, infoBlock, pixelBlock);
}
