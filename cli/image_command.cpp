// pak image: a WBM image to an 8-bit indexed PNG, or to the plug-in's own
// bitmap as a .bmp file.
#include <png.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bytes.h"
#include "command.h"
#include "mapped_file.h"
#include "wbm.h"

// The .bmp file holds the host blocks as they lie in memory.
static_assert(std::endian::native == std::endian::little);

namespace {

struct ImageOptions {
  std::string image;
  std::string output;
  std::string palette;
  std::uint32_t offset = 0;
};

//   BITMAPFILEHEADER (14 bytes)
//   +0  type     "BM"
//   +2  size     uint32: whole file
//   +6  reserved 2 x uint16, 0
//   +10 offBits  uint32: where the pixel block starts
constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kPixelOffsetOffset = 10;

bool EndsWithBmp(const std::string& path) {
  const std::string extension = std::filesystem::path(path).extension().string();
  std::string lower = extension;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower == ".bmp";
}

// The first 768 bytes of path; false with a message when there are fewer
// or the file cannot be read.
bool ReadColorTable(const std::string& path, std::uint8_t (&table)[kColorTableBytes], std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return false;
  }
  in.read(reinterpret_cast<char*>(table), sizeof table);
  if (in.gcount() != static_cast<std::streamsize>(sizeof table)) {
    error = "holds " + std::to_string(in.gcount()) + " bytes; a colour table needs 768";
    return false;
  }
  return true;
}

// The colours for the image: from --palette, or from the first "*.act" in
// the image's folder as the plug-in finds it (a bare name's folder is the
// current one), else the grey ramp. Says on stderr which it used.
bool LoadColors(const ImageOptions& options, RGBQUAD (&colors)[kPaletteEntries]) {
  std::uint8_t table[kColorTableBytes];
  std::string error;
  if (!options.palette.empty()) {
    if (!ReadColorTable(options.palette, table, error)) {
      Fail(options.palette, error, kExitData);
      return false;
    }
    FillColorsFromTable(table, colors);
    return true;
  }
  std::string folder = std::filesystem::path(options.image).parent_path().string();
  folder = (folder.empty() ? "." : folder) + "/";
  char path[MAX_PATH];
  if (!FindPaletteInFolder(folder.c_str(), folder.size(), path)) {
    std::cerr << "pak: " << options.image << ": no .act colour table in " << folder << "; used the grey ramp\n";
    FillGreyRamp(colors);
    return true;
  }
  if (!ReadColorTable(path, table, error)) {
    std::cerr << "pak: " << options.image << ": " << path << " " << error << "; used the grey ramp\n";
    FillGreyRamp(colors);
    return true;
  }
  std::cerr << "pak: " << options.image << ": colours from " << path << "\n";
  FillColorsFromTable(table, colors);
  return true;
}

struct PngError {
  char message[256] = "libpng failed";
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* error = static_cast<PngError*>(png_get_error_ptr(png));
  std::snprintf(error->message, sizeof error->message, "%s", message);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// An 8-bit palette PNG: the 256 colours as PLTE, the pixel bytes as indices,
// top row first. libpng reports errors by longjmp, so nothing with a
// destructor lives in this frame.
bool WritePng(std::FILE* out, const WbmImage& image, const RGBQUAD (&colors)[kPaletteEntries], PngError& error) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, OnPngError, OnPngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  png_color palette[kPaletteEntries];
  for (std::size_t n = 0; n < kPaletteEntries; ++n) {
    palette[n] = {colors[n].rgbRed, colors[n].rgbGreen, colors[n].rgbBlue};
  }
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, out);
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

// The 14-byte file header, then the bitmap-information block and the pixel
// block exactly as the plug-in builds them for the host.
bool WriteBmp(std::FILE* out, const WbmImage& image, const RGBQUAD (&colors)[kPaletteEntries]) {
  BitmapInfo256 bitmap;
  std::memset(&bitmap, 0, sizeof bitmap);
  FillBitmapInfoHeader(bitmap.header, image.header);
  std::memcpy(bitmap.colors, colors, sizeof bitmap.colors);
  const std::uint32_t stride = StrideOf(image.header.width);
  std::vector<std::uint8_t> pixels(std::size_t{stride} * image.header.height, 0);
  CopyRowsBottomUp(pixels.data(), image.pixels.data(), stride, image.header.width, image.header.height);

  // At most 14 + 1064 + 65536 x 65535: below 2^32.
  std::uint8_t header[kFileHeaderBytes] = {'B', 'M'};
  WriteLe32(header + kFileSizeOffset, static_cast<std::uint32_t>(kFileHeaderBytes + sizeof bitmap + pixels.size()));
  WriteLe32(header + kPixelOffsetOffset, static_cast<std::uint32_t>(kFileHeaderBytes + sizeof bitmap));
  return std::fwrite(header, 1, sizeof header, out) == sizeof header &&
         std::fwrite(&bitmap, 1, sizeof bitmap, out) == sizeof bitmap &&
         (pixels.empty() || std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size());
}

int RunImage(const ImageOptions& options) {
  MappedFile file;
  std::string error;
  if (!file.Open(options.image, error)) return Fail(options.image, error, kExitData);
  const std::span<const std::uint8_t> bytes = file.Bytes();
  if (options.offset > bytes.size()) {
    return Fail(options.image, "offset " + std::to_string(options.offset) + " lies beyond the end of the file",
                kExitData);
  }
  // An image never needs more than 12 + 65535 x 65535 bytes: below 2^32.
  const std::span<const std::uint8_t> rest = bytes.subspan(options.offset);
  const InputSource input{rest.data(), static_cast<std::uint32_t>(std::min<std::size_t>(rest.size(), UINT32_MAX)), 0};
  WbmImage image;
  const ResultCode result = ReadWbmImage(input, image);
  if (result == UnsupportedFormat) return Fail(options.image, "not a WBM image (no \"!WBM\" header)", kExitNotFormat);
  if (result != Success) return Fail(options.image, "broken image: the file ends inside it", kExitData);

  const bool bmp = !options.output.empty() && EndsWithBmp(options.output);
  const std::string output =
      options.output.empty() ? std::filesystem::path(options.image).replace_extension(".png").string() : options.output;
  if (!bmp && (image.header.width == 0 || image.header.height == 0)) {
    return Fail(options.image,
                "a PNG cannot hold an image of " + std::to_string(image.header.width) + " x " +
                    std::to_string(image.header.height) + " pixels; write a .bmp instead",
                kExitData);
  }
  std::error_code same;
  if (std::filesystem::equivalent(options.image, output, same)) {
    return Fail(output, "would overwrite the image itself", kExitUsage);
  }

  RGBQUAD colors[kPaletteEntries];
  if (!LoadColors(options, colors)) return kExitData;

  std::FILE* out = std::fopen(output.c_str(), "wb");
  if (out == nullptr) return Fail(output, std::strerror(errno), kExitData);
  PngError pngError;
  bool written = bmp ? WriteBmp(out, image, colors) : WritePng(out, image, colors, pngError);
  if (!written) error = bmp ? std::strerror(errno) : pngError.message;
  if (std::fclose(out) != 0 && written) {
    written = false;
    error = std::strerror(errno);
  }
  if (!written) {
    std::remove(output.c_str());
    return Fail(output, error, kExitData);
  }
  return kExitOk;
}

}  // namespace

Command AddImageCommand(CLI::App& app) {
  auto options = std::make_shared<ImageOptions>();
  CLI::App* parser = app.add_subcommand("image", "Convert a WBM image to an indexed PNG, or to a .bmp");
  parser->add_option("IMAGE", options->image, "WBM image")->required();
  parser->add_option("-o,--output", options->output,
                     "Output file (default: IMAGE with .png); a name ending in .bmp writes the plug-in's bitmap");
  parser->add_option("--palette", options->palette,
                     "Colour table (first 768 bytes: red, green, blue per entry); default: the first .act file in "
                     "the image's folder, else a grey ramp");
  parser->add_option("--offset", options->offset, "Byte offset of the image within the file");
  return {parser, [options] { return RunImage(*options); }};
}
