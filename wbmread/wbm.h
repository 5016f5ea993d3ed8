// WBM image layout, the host's picture record, and the conversion of an
// image into the host's bitmap blocks.
//
// An image starts at an offset into its input; all numbers little-endian.
//
//   WbmHeader (12 bytes)
//   +0  magic   "!WBM", compared as one 32-bit word
//   +4  width   uint16, pixels per row
//   +6  height  uint16, rows
//   +8  (4 bytes, never read)
//   +12 pixels  width x height palette indices, top row first, no row padding
//
// The image carries no colours: they come from the first "*.act" colour
// table in the image's folder (768 bytes: red, green, blue per entry), or
// from a grey ramp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "bitmap.h"
#include "input.h"
#include "platform.h"
#include "result.h"

constexpr std::size_t kWbmHeaderBytes = 12;
constexpr std::size_t kWbmMagicBytes = 4;
constexpr std::size_t kWbmWidthOffset = 4;
constexpr std::size_t kWbmHeightOffset = 6;
constexpr std::uint32_t kWbmMagic = 0x4D425721;  // "!WBM" read little-endian

constexpr std::size_t kColorTableBytes = 3 * kPaletteEntries;

//   PictureInfoRecord (26 bytes, byte-packed)
//   +0  left        int32, 0
//   +4  top         int32, 0
//   +8  width       int32: the header's width, zero-extended
//   +12 height      int32: the header's height, zero-extended
//   +16 xDensity    uint16, 0
//   +18 yDensity    uint16, 0
//   +20 colorDepth  int16: 8
//   +22 textInfo    32-bit host handle slot, always 0
#pragma pack(push, 1)
struct PictureInfoRecord {
  std::int32_t left;
  std::int32_t top;
  std::int32_t width;
  std::int32_t height;
  std::uint16_t xDensity;
  std::uint16_t yDensity;
  std::int16_t colorDepth;
  std::uint32_t textInfo;
};
#pragma pack(pop)

static_assert(sizeof(PictureInfoRecord) == 26);
static_assert(offsetof(PictureInfoRecord, left) == 0);
static_assert(offsetof(PictureInfoRecord, top) == 4);
static_assert(offsetof(PictureInfoRecord, width) == 8);
static_assert(offsetof(PictureInfoRecord, height) == 12);
static_assert(offsetof(PictureInfoRecord, xDensity) == 16);
static_assert(offsetof(PictureInfoRecord, yDensity) == 18);
static_assert(offsetof(PictureInfoRecord, colorDepth) == 20);
static_assert(offsetof(PictureInfoRecord, textInfo) == 22);

struct WbmHeader {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
};

// A checked image: its header and exactly width x height pixel bytes.
struct WbmImage {
  WbmHeader header;
  std::span<const std::uint8_t> pixels;
};

// IsSupported's header test: false when the whole input holds fewer than 12
// bytes, when the image offset (input.argument) is negative or leaves fewer
// than 4 bytes, or when those 4 bytes are not "!WBM" (case-sensitive).
// Reads only the 4 magic bytes.
bool IsWbmHeader(const InputSource& input);

// The header at input.argument. UnsupportedFormat when the magic is not
// there (wrong bytes, negative offset, fewer than 4 bytes left); BrokenData
// when the magic is there but the 12-byte header is not complete. header is
// written only on Success.
ResultCode ReadWbmHeader(const InputSource& input, WbmHeader& header);

// ReadWbmHeader, and then the pixel rows: BrokenData when fewer than
// width x height bytes follow the header (checked in 64 bits). Bytes after
// the last row are not part of the image. image is written only on Success.
ResultCode ReadWbmImage(const InputSource& input, WbmImage& image);

// GetPictureInfo's worker: on Success all 26 bytes of record are written
// (width, height, depth 8, zeros elsewhere); otherwise record is untouched.
// A complete header is enough: the pixels are not looked at.
ResultCode ReadWbmInfo(const InputSource& input, PictureInfoRecord& record);

// Bytes per row of the pixel block: width rounded up to a multiple of 4.
constexpr std::uint32_t StrideOf(std::uint32_t width) { return (width + 3) & ~std::uint32_t{3}; }

// Sets size 40, width, height (positive: rows bottom-up), 1 plane and 8 bits
// per pixel; leaves every other field as it was (zero in a fresh block).
void FillBitmapInfoHeader(BITMAPINFOHEADER& header, const WbmHeader& image);

// Copies rowCount rows of rowBytes each from source (top row first, no
// padding) to destination (bottom row first, destinationStride apart): the
// last source row lands at destination. Writes only the first rowBytes of
// each destination row. REQUIRES: rowBytes <= destinationStride; source
// holds rowBytes x rowCount bytes, destination destinationStride x rowCount.
void CopyRowsBottomUp(std::uint8_t* destination, const std::uint8_t* source, std::size_t destinationStride,
                      std::size_t rowBytes, std::size_t rowCount);

// Entry n from bytes 3n, 3n + 1, 3n + 2 of a colour table (red, green,
// blue), reserved 0.
void FillColorsFromTable(const std::uint8_t (&table)[kColorTableBytes], RGBQUAD (&colors)[kPaletteEntries]);

// Entry n is red = green = blue = n, reserved 0.
void FillGreyRamp(RGBQUAD (&colors)[kPaletteEntries]);

// The palette search, the palette read and the host's blocks: the only
// platform calls of the image module besides input access.

// The palette file for an image in folder: folder (folderBytes bytes, its
// separator included) plus the name of the first "*.act" match that the
// folder search returns, written with its NUL into path. False, with path
// holding no result, when nothing matches or when folder plus "*.act" or
// plus the match's name does not fit in MAX_PATH bytes with the NUL; path is
// never written past its end.
bool FindPaletteInFolder(const char* folder, std::size_t folderBytes, char (&path)[MAX_PATH]);

// FindPaletteInFolder for the folder part of imageName: everything up to
// and including its last backslash, the only folder separator. A byte that
// trails a lead byte of the ANSI code page is part of a double-byte
// character, never a separator. False for a null name or one without a
// backslash: then no search is made.
bool FindPaletteFile(const char* imageName, char (&path)[MAX_PATH]);

// FindPaletteFile, then opens the match for reading, share mode read. The
// handle, or INVALID_HANDLE_VALUE when there is none or it cannot be
// opened; the next match is never tried.
HANDLE OpenPaletteFile(const char* imageName);

// Closes a palette file handle when it goes out of scope.
class ScopedPaletteFile {
 public:
  explicit ScopedPaletteFile(HANDLE file) : file_(file) {}
  ScopedPaletteFile(const ScopedPaletteFile&) = delete;
  ScopedPaletteFile& operator=(const ScopedPaletteFile&) = delete;
  ~ScopedPaletteFile() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  HANDLE Get() const { return file_; }

 private:
  HANDLE file_;
};

// Fills colors from the first 768 bytes of file, read with one ReadFile
// from where the handle stands, and answers true; answers false with the
// grey ramp when file is INVALID_HANDLE_VALUE, the read fails or delivers
// fewer than 768 bytes (nothing of a partial read is kept).
bool ReadPalette(HANDLE file, RGBQUAD (&colors)[kPaletteEntries]);

// GetPicture's worker. Checks the image (ReadWbmImage's results, with
// nothing opened or allocated and the out-parameters unwritten on failure),
// opens the palette beside imageName (null: memory input, grey ramp), then
// allocates the 1064-byte bitmap-information block and the stride x height
// pixel block with LocalAlloc(LPTR), storing each in its out-parameter as
// soon as it exists. Throws ESpiError(OutOfMemory) when either allocation
// fails; by then whatever was allocated is freed and its out-parameter null
// (an out-parameter not yet reached stays unwritten). On Success the host owns both blocks. The palette file is closed on
// every way out.
ResultCode DecodeWbm(const InputSource& input, const char* imageName, HLOCAL* infoBlock, HLOCAL* pixelBlock);
