// The 8-bit device-independent bitmap the image module hands to the host:
// the bitmap-information block (a 40-byte BITMAPINFOHEADER and 256 RGBQUAD
// colours, 1064 bytes) and the bottom-up pixel block.
//
// On Windows these are the types of <windows.h>. Elsewhere the same layouts
// are declared here: the platform stand-in carries kernel32 names only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

#ifndef _WIN32
//   BITMAPINFOHEADER (40 bytes)
//   +0  biSize  +4 biWidth  +8 biHeight  +12 biPlanes (16)  +14 biBitCount (16)
//   +16 biCompression  +20 biSizeImage  +24 biXPelsPerMeter  +28 biYPelsPerMeter
//   +32 biClrUsed  +36 biClrImportant
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};
#endif

constexpr std::size_t kPaletteEntries = 256;

// The bitmap-information block: a BITMAPINFO with all 256 colour entries.
struct BitmapInfo256 {
  BITMAPINFOHEADER header;
  RGBQUAD colors[kPaletteEntries];
};

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biWidth) == 4);
static_assert(offsetof(BITMAPINFOHEADER, biHeight) == 8);
static_assert(offsetof(BITMAPINFOHEADER, biPlanes) == 12);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(offsetof(RGBQUAD, rgbRed) == 2);
static_assert(sizeof(BitmapInfo256) == 1064);
static_assert(offsetof(BitmapInfo256, colors) == 40);
