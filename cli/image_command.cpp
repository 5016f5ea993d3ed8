// pak image: a WBM image to an 8-bit indexed PNG, or to the plug-in's own
// bitmap as a .bmp file.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
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
#include "png_output.h"
#include "wbm.h"

// The .bmp file holds the host blocks as they lie in memory.
static_assert(std::endian::native == std::endian::little);

namespace {

struct ImageOptions {
  std::vector<std::string> images;
  std::string image;  // the one being converted
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
  const std::string output = options.output;
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

  std::vector<std::uint8_t> png;
  if (!bmp && !EncodePng(image, colors, png, error)) return Fail(output, error, kExitData);
  std::FILE* out = std::fopen(output.c_str(), "wb");
  if (out == nullptr) return Fail(output, std::strerror(errno), kExitData);
  bool written = bmp ? WriteBmp(out, image, colors) : std::fwrite(png.data(), 1, png.size(), out) == png.size();
  if (!written) error = std::strerror(errno);
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

// Each image in turn. -o is the output file when one image is given and
// -o does not name a folder (an existing one, or a path ending in '/');
// otherwise a folder (created) that receives STEM.png per image. Without
// -o each PNG lands beside its image. The status is the worst of all.
int RunImages(const ImageOptions& given) {
  const std::string& target = given.output;
  const bool toFolder = !target.empty() && (given.images.size() > 1 || target.back() == '/' ||
                                            std::filesystem::is_directory(target));
  if (toFolder) {
    std::error_code created;
    std::filesystem::create_directories(target, created);
    if (created) return Fail(target, created.message(), kExitData);
  }
  int worst = kExitOk;
  for (const std::string& image : given.images) {
    ImageOptions options = given;
    options.image = image;
    const std::filesystem::path png = std::filesystem::path(image).filename().replace_extension(".png");
    if (toFolder) {
      options.output = (std::filesystem::path(target) / png).string();
    } else if (target.empty()) {
      options.output = std::filesystem::path(image).replace_extension(".png").string();
    }
    const int status = RunImage(options);
    if (status == kExitUsage) return status;
    worst = std::max(worst, status);
  }
  return worst;
}

}  // namespace

Command AddImageCommand(CLI::App& app) {
  auto options = std::make_shared<ImageOptions>();
  CLI::App* parser = app.add_subcommand("image", "Convert WBM images to indexed PNGs (or one to a .bmp)");
  parser->add_option("IMAGE", options->images, "WBM images")->required();
  parser->add_option("-o,--output", options->output,
                     "Output folder, or with one image the output file (default: beside each image, .png); a "
                     "file name ending in .bmp writes the plug-in's bitmap");
  parser->add_option("--palette", options->palette,
                     "Colour table (first 768 bytes: red, green, blue per entry); default: the first .act file in "
                     "the image's folder, else a grey ramp");
  parser->add_option("--offset", options->offset, "Byte offset of the image within the file");
  return {parser, [options] { return RunImages(*options); }};
}
