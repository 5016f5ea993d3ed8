#include "png_output.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

struct PngState {
  char message[256] = "libpng failed";
  std::vector<std::uint8_t>* out = nullptr;
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void OnPngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* state = static_cast<PngState*>(png_get_error_ptr(png));
  const std::size_t used = state->out->size();
  state->out->resize(used + length);
  std::memcpy(state->out->data() + used, data, length);
}

void OnPngFlush(png_structp) {}

// libpng reports errors by longjmp, so nothing with a destructor is created
// in this frame after setjmp.
bool Encode(const WbmImage& image, const png_color* palette, PngState& state) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, nullptr, OnPngWrite, OnPngFlush);
  png_set_IHDR(png, info, image.header.width, image.header.height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, palette, static_cast<int>(kPaletteEntries));
  png_write_info(png, info);
  for (std::size_t row = 0; row < image.header.height; ++row) {
    png_write_row(png, image.pixels.data() + row * image.header.width);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool EncodePng(const WbmImage& image, const RGBQUAD (&colors)[kPaletteEntries], std::vector<std::uint8_t>& png,
               std::string& error) {
  png_color palette[kPaletteEntries];
  for (std::size_t n = 0; n < kPaletteEntries; ++n) {
    palette[n] = {colors[n].rgbRed, colors[n].rgbGreen, colors[n].rgbBlue};
  }
  png.clear();
  PngState state;
  state.out = &png;
  if (image.header.width == 0 || image.header.height == 0) {
    error = "a PNG cannot hold an image of " + std::to_string(image.header.width) + " x " +
            std::to_string(image.header.height) + " pixels";
    return false;
  }
  if (!Encode(image, palette, state)) {
    error = state.message;
    png.clear();
    return false;
  }
  return true;
}
