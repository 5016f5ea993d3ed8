// pak image, run as a user runs it; its PNG read back with libpng, its .bmp
// compared with the blocks the decoder hands to a host.
#include <gtest/gtest.h>
#include <png.h>

#include <sys/wait.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host.h"
#include "wbm.h"
#include "wbmread_fixture.h"

#ifndef PAK_EXECUTABLE
#error "PAK_EXECUTABLE must name the pak tool"
#endif

namespace {

struct PakRun {
  int status;
  std::string errors;  // what the tool wrote to stderr
};

PakRun RunPak(const std::string& folder, const std::string& arguments) {
  const std::string errorFile = folder + "/stderr.txt";
  const std::string command = std::string("'") + PAK_EXECUTABLE + "' image " + arguments + " 2>'" + errorFile + "'";
  const int status = std::system(command.c_str());
  const std::vector<std::uint8_t> errors = ReadFileBytes(errorFile);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(errors.begin(), errors.end())};
}

struct PngContents {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  std::vector<png_color> palette;
  std::vector<std::uint8_t> rows;  // width x height indices, top row first
};

// libpng reports errors by longjmp: nothing with a destructor lives here.
bool ReadPngFile(std::FILE* file, PngContents& contents) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  int interlace = 0;
  png_get_IHDR(png, info, &contents.width, &contents.height, &contents.bitDepth, &contents.colorType, &interlace,
               nullptr, nullptr);
  png_colorp palette = nullptr;
  int entries = 0;
  if (png_get_PLTE(png, info, &palette, &entries) != 0) contents.palette.assign(palette, palette + entries);
  contents.rows.resize(std::size_t{contents.width} * contents.height);
  for (png_uint_32 row = 0; row < contents.height; ++row) {
    png_read_row(png, contents.rows.data() + std::size_t{row} * contents.width, nullptr);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

void ExpectPng(const std::string& path, std::uint32_t width, std::uint32_t height, Colors colors) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr) << path;
  PngContents png;
  const bool read = ReadPngFile(file, png);
  std::fclose(file);
  ASSERT_TRUE(read) << path;
  EXPECT_EQ(png.width, width);
  EXPECT_EQ(png.height, height);
  EXPECT_EQ(png.bitDepth, 8);
  EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_PALETTE);
  ASSERT_EQ(png.palette.size(), 256u);
  for (std::size_t n = 0; n < 256; ++n) {
    const bool grey = colors == Colors::Grey;
    ASSERT_EQ(png.palette[n].red, grey ? n : TableRed(n)) << n;
    ASSERT_EQ(png.palette[n].green, grey ? n : TableGreen(n)) << n;
    ASSERT_EQ(png.palette[n].blue, grey ? n : TableBlue(n)) << n;
  }
  for (std::size_t row = 0; row < height; ++row) {
    for (std::size_t column = 0; column < width; ++column) {
      ASSERT_EQ(png.rows[row * width + column], PixelAt(column, row)) << row << ", " << column;
    }
  }
}

TEST(PakImage, PngKeepsIndicesAndPalette) {
  struct Case {
    const char* what;
    bool tableBeside;       // colors.act in the image's folder
    const char* arguments;  // after the image path; %F is the test folder
    const char* output;
    Colors colors;
    const char* said;  // part of the stderr note
  };
  const Case cases[] = {
      {"palette beside the image", true, "", "image.png", Colors::Table, "colours from"},
      {"no palette", false, "", "image.png", Colors::Grey, "grey ramp"},
      {"palette given, output named", false, "--palette %F/elsewhere/any.pal -o %F/out.png", "out.png",
       Colors::Table, ""},
  };
  const std::vector<std::uint8_t> image = WbmBytes(5, 3, 0xFFFFFFFF);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = TestFolder("PakImagePng");
    WriteFileBytes(folder + "/image.wbm", image);
    if (c.tableBeside) WriteFileBytes(folder + "/colors.act", ColorTable(768));
    std::filesystem::create_directories(folder + "/elsewhere");
    WriteFileBytes(folder + "/elsewhere/any.pal", ColorTable(800));
    std::string arguments = c.arguments;
    for (std::size_t at; (at = arguments.find("%F")) != std::string::npos;) arguments.replace(at, 2, folder);
    const PakRun run = RunPak(folder, folder + "/image.wbm " + arguments);
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find(c.said), std::string::npos) << run.errors;
    ExpectPng(folder + "/" + c.output, 5, 3, c.colors);
  }
}

TEST(PakImage, BmpIsThePluginBitmap) {
  const std::string folder = TestFolder("PakImageBmp");
  const std::vector<std::uint8_t> image = WbmBytes(7, 5);
  WriteFileBytes(folder + "/game.dat", Embedded(image, 100, 20));
  WriteFileBytes(folder + "/colors.act", ColorTable(768));
  const PakRun run = RunPak(folder, folder + "/game.dat --offset 100 -o " + folder + "/out.bmp");
  ASSERT_EQ(run.status, 0) << run.errors;

  const std::vector<std::uint8_t> bytes = Embedded(image, 100, 20);
  HLOCAL info = nullptr;
  HLOCAL pixels = nullptr;
  ASSERT_EQ(DecodeWbm({bytes.data(), static_cast<std::uint32_t>(bytes.size()), 100},
                      ModuleName(folder, "game.dat").c_str(), &info, &pixels),
            Success);
  const auto* infoBytes = static_cast<const std::uint8_t*>(info);
  const auto* pixelBytes = static_cast<const std::uint8_t*>(pixels);
  const std::size_t pixelCount = LocalSize(pixels);
  ExpectBitmap(infoBytes, pixelBytes, pixelCount, 7, 5, Colors::Table);
  const std::size_t fileBytes = 14 + 1064 + pixelCount;
  std::vector<std::uint8_t> expected = {'B', 'M', static_cast<std::uint8_t>(fileBytes),
                                        static_cast<std::uint8_t>(fileBytes >> 8), 0, 0, 0, 0, 0, 0,
                                        1078 & 0xFF, 1078 >> 8, 0, 0};
  expected.insert(expected.end(), infoBytes, infoBytes + 1064);
  expected.insert(expected.end(), pixelBytes, pixelBytes + pixelCount);
  LocalFree(info);
  LocalFree(pixels);
  EXPECT_EQ(ReadFileBytes(folder + "/out.bmp"), expected);
}

TEST(PakImage, ExitStatuses) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    const char* arguments;
    int status;
    bool output;  // out.* exists afterwards
  };
  const std::vector<std::uint8_t> image = WbmBytes(4, 2);
  const Case cases[] = {
      {"not an image", ColorTable(64), "", 3, false},
      {"empty file", {}, "", 3, false},
      {"header cut short", {'!', 'W', 'B', 'M', 4, 0}, "", 2, false},
      {"last pixel missing", std::vector<std::uint8_t>(image.begin(), image.end() - 1), "", 2, false},
      {"offset beyond the end", image, "--offset 1000", 2, false},
      {"palette too short", image, "--palette %F/short.act", 2, false},
      {"palette missing", image, "--palette %F/missing.act", 2, false},
      {"no rows as PNG", WbmBytes(3, 0), "", 2, false},
      {"no rows as BMP", WbmBytes(3, 0), "-o %F/out.bmp", 0, true},
      {"missing image", {}, "-o %F/out.png %F/missing.wbm", 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = TestFolder("PakImageStatus");
    WriteFileBytes(folder + "/in.wbm", c.bytes);
    WriteFileBytes(folder + "/short.act", ColorTable(767));
    std::string arguments = c.arguments;
    for (std::size_t at; (at = arguments.find("%F")) != std::string::npos;) arguments.replace(at, 2, folder);
    const std::string image = arguments.find("missing.wbm") == std::string::npos ? folder + "/in.wbm " : "";
    const std::string output = arguments.find("-o") == std::string::npos ? " -o " + folder + "/out.png" : "";
    const PakRun run = RunPak(folder, image + arguments + output);
    EXPECT_EQ(run.status, c.status) << run.errors;
    EXPECT_EQ(FileExists(folder + "/out.png") || FileExists(folder + "/out.bmp"), c.output);
  }
}

}  // namespace
