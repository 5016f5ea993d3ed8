// An 8-bit indexed PNG of a WBM image, built in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wbm.h"

// The PNG bytes: the 256 colours as PLTE, the pixel bytes as indices, top
// row first. False with error set when libpng refuses (e.g. a zero width).
bool EncodePng(const WbmImage& image, const RGBQUAD (&colors)[kPaletteEntries], std::vector<std::uint8_t>& png,
               std::string& error);
