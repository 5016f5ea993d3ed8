// The exports a harness calls, with the signatures of pakread/exports.cpp
// and wbmread/exports.cpp. A harness links the export source of one module
// with that module's core, so it runs the very code a host reaches,
// export guard and host-variable rules included, without loading a module.
#pragma once

#include <cstdint>

#include "platform.h"
#include "spi.h"

struct FileInfoRecord;
struct PictureInfoRecord;

// Both modules.
SPI_EXPORT std::int32_t SPI_CALL IsSupported(const char* fileName, SpiHandleOrBlock fileHandleOrBlock);

// pakread.
SPI_EXPORT std::int32_t SPI_CALL GetArchiveInfo(const char* source, std::int32_t length, std::uint32_t flag,
                                                HLOCAL* list);
SPI_EXPORT std::int32_t SPI_CALL GetFileInfo(const char* source, std::int32_t length, const char* requestedName,
                                             std::uint32_t flag, FileInfoRecord* record);

// wbmread.
SPI_EXPORT std::int32_t SPI_CALL GetPictureInfo(const char* source, std::int32_t length, std::uint32_t flag,
                                                PictureInfoRecord* info);
SPI_EXPORT std::int32_t SPI_CALL GetPicture(const char* source, std::int32_t length, std::uint32_t flag,
                                            HLOCAL* infoBlock, HLOCAL* pixelBlock, ProgressCallback callback,
                                            std::int32_t userData);
SPI_EXPORT std::int32_t SPI_CALL GetPreview(const char* source, std::int32_t length, std::uint32_t flag,
                                            HLOCAL* infoBlock, HLOCAL* pixelBlock, ProgressCallback callback,
                                            std::int32_t userData);
