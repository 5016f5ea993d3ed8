// Image core: header test, picture record, bitmap blocks, palette search.
// The palette cases run against the platform stand-in natively and against
// kernel32 under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host.h"
#include "platform.h"
#include "wbm.h"
#include "wbmread_fixture.h"

namespace {

InputSource SourceOf(const std::vector<std::uint8_t>& bytes, std::int32_t offset = 0) {
  return {bytes.data(), static_cast<std::uint32_t>(bytes.size()), offset};
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// A non-null value DecodeWbm must not leave behind when it fails.
HLOCAL const kUnwritten = reinterpret_cast<HLOCAL>(std::uintptr_t{0x5A5A0});

// One DecodeWbm call; the blocks are freed with the object.
struct Decode {
  explicit Decode(const InputSource& input, const char* imageName = nullptr)
      : result(DecodeWbm(input, imageName, &info, &pixels)) {}
  Decode(const Decode&) = delete;
  Decode& operator=(const Decode&) = delete;
  ~Decode() {
    if (result == Success) {
      LocalFree(info);
      LocalFree(pixels);
    }
  }
  HLOCAL info = kUnwritten;
  HLOCAL pixels = kUnwritten;
  ResultCode result;
};

void ExpectDecoded(const Decode& decoded, std::uint32_t width, std::uint32_t height, Colors colors) {
  ASSERT_EQ(decoded.result, Success);
  ASSERT_EQ(LocalSize(decoded.info), 1064u);
  ExpectBitmap(static_cast<const std::uint8_t*>(decoded.info), static_cast<const std::uint8_t*>(decoded.pixels),
               LocalSize(decoded.pixels), width, height, colors);
}

TEST(IsWbmHeader, Table) {
  const std::vector<std::uint8_t> image = WbmBytes(2, 2);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::int32_t offset;
    bool accepted;
  };
  const Case cases[] = {
      {"an image", image, 0, true},
      {"a bare 12-byte header", Bytes(std::string("!WBM\0\0\0\0\0\0\0\0", 12)), 0, true},
      {"11 bytes", Bytes(std::string("!WBM\1\0\1\0\0\0\0", 11)), 0, false},
      {"the magic alone", Bytes("!WBM"), 0, false},
      {"lower case", Bytes(std::string("!wbm\1\0\1\0\0\0\0\0", 12)), 0, false},
      {"last magic byte differs", Bytes(std::string("!WBN\1\0\1\0\0\0\0\0", 12)), 0, false},
      {"first magic byte differs", Bytes(std::string(" WBM\1\0\1\0\0\0\0\0", 12)), 0, false},
      {"an archive header", Bytes(std::string("HyPack\0\2\0\0\0\0\0\0\0\0", 16)), 0, false},
      {"image at an offset", Embedded(image, 100, 7), 100, true},
      {"same bytes, offset 0", Embedded(image, 100, 7), 0, false},
      {"magic in the last 4 of 12 bytes", Bytes("01234567!WBM"), 8, true},
      {"3 bytes left after the offset", Bytes("012345678!WB"), 9, false},
      {"offset at the end", image, static_cast<std::int32_t>(image.size()), false},
      {"offset beyond the end", image, 1000, false},
      {"negative offset", Embedded(image, 4), -4, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsWbmHeader(SourceOf(c.bytes, c.offset)), c.accepted) << c.what;
}

TEST(ReadWbmInfo, RecordAndResults) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::int32_t offset;
    ResultCode result;
    std::int32_t width, height;
  };
  const std::vector<std::uint8_t> vga = WbmBytes(640, 480, 0xDEADBEEF);
  std::vector<std::uint8_t> widest = WbmBytes(0, 0);
  widest[4] = widest[5] = widest[6] = widest[7] = 0xFF;
  const Case cases[] = {
      {"640 x 480, any header tail", vga, 0, Success, 640, 480},
      {"header only: pixels not needed", std::vector<std::uint8_t>(vga.begin(), vga.begin() + 12), 0, Success, 640,
       480},
      {"65535 x 65535 zero-extended", widest, 0, Success, 65535, 65535},
      {"at offset 100", Embedded(WbmBytes(3, 5), 100, 9), 100, Success, 3, 5},
      {"11 header bytes", std::vector<std::uint8_t>(vga.begin(), vga.begin() + 11), 0, BrokenData, 0, 0},
      {"4 header bytes at an offset", Embedded(Bytes("!WBM"), 20), 20, BrokenData, 0, 0},
      {"not an image", Bytes("HyPack\0\2 and more"), 0, UnsupportedFormat, 0, 0},
      {"3 bytes", Bytes("!WB"), 0, UnsupportedFormat, 0, 0},
      {"negative offset", Embedded(vga, 8), -8, UnsupportedFormat, 0, 0},
  };
  for (const Case& c : cases) {
    std::uint8_t record[sizeof(PictureInfoRecord)];
    std::memset(record, 0xAB, sizeof record);
    EXPECT_EQ(ReadWbmInfo(SourceOf(c.bytes, c.offset), *reinterpret_cast<PictureInfoRecord*>(record)), c.result)
        << c.what;
    std::uint8_t expected[sizeof(PictureInfoRecord)];
    std::memset(expected, 0xAB, sizeof expected);
    if (c.result == Success) {
      std::memset(expected, 0, sizeof expected);
      for (int i = 0; i < 4; ++i) {
        expected[8 + i] = static_cast<std::uint8_t>(c.width >> (8 * i));
        expected[12 + i] = static_cast<std::uint8_t>(c.height >> (8 * i));
      }
      expected[20] = 8;
    }
    EXPECT_EQ(std::memcmp(record, expected, sizeof record), 0) << c.what;
  }
}

TEST(DecodeWbm, StrideAndBottomUpRows) {
  struct Size {
    std::uint16_t width, height;
  };
  std::vector<Size> sizes = {{0, 0}, {1, 1}, {0, 3}, {3, 0}, {300, 7}};
  for (std::uint16_t width = 1; width <= 9; ++width) {
    for (std::uint16_t height : {1, 2, 3, 5}) sizes.push_back({width, height});
  }
  for (const Size& size : sizes) {
    const std::vector<std::uint8_t> bytes = WbmBytes(size.width, size.height, 0xFFFFFFFF);
    const Decode decoded(SourceOf(bytes));
    ExpectDecoded(decoded, size.width, size.height, Colors::Grey);
  }
}

TEST(DecodeWbm, ReadsRelativeToTheOffsetAndNothingAfterTheRows) {
  const std::vector<std::uint8_t> bytes = Embedded(WbmBytes(5, 3), 100, 50);
  const Decode decoded(SourceOf(bytes, 100));
  ExpectDecoded(decoded, 5, 3, Colors::Grey);
}

TEST(DecodeWbm, FailuresWriteNothing) {
  const std::vector<std::uint8_t> image = WbmBytes(7, 5);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::int32_t offset;
    ResultCode result;
  };
  const Case cases[] = {
      {"not an image", Bytes("HyPack\0\2 and more"), 0, UnsupportedFormat},
      {"negative offset", Embedded(image, 4), -4, UnsupportedFormat},
      {"offset past the end", image, 1000, UnsupportedFormat},
      {"header cut after the magic", Bytes("!WBM\7\0"), 0, BrokenData},
      {"last pixel missing", std::vector<std::uint8_t>(image.begin(), image.end() - 1), 0, BrokenData},
      {"last pixel missing at an offset", Embedded(std::vector<std::uint8_t>(image.begin(), image.end() - 1), 9),
       9, BrokenData},
      {"rows claimed, none there", std::vector<std::uint8_t>(image.begin(), image.begin() + 12), 0, BrokenData},
  };
  for (const Case& c : cases) {
    // An exact-size heap copy, so that a read past the end shows under ASan.
    const auto* exact = new std::uint8_t[c.bytes.size()];
    std::memcpy(const_cast<std::uint8_t*>(exact), c.bytes.data(), c.bytes.size());
    const Decode decoded({exact, static_cast<std::uint32_t>(c.bytes.size()), c.offset});
    delete[] exact;
    EXPECT_EQ(decoded.result, c.result) << c.what;
    EXPECT_EQ(decoded.info, kUnwritten) << c.what;
    EXPECT_EQ(decoded.pixels, kUnwritten) << c.what;
  }
}

// The palette search, through DecodeWbm with an image name in a folder
// holding the given files (the image itself comes from memory).

struct PaletteFile {
  std::string name;
  std::size_t bytes;  // a colour table cut to this length
};

std::string PaletteFolder(const std::string& test, const std::vector<PaletteFile>& files) {
  const std::string folder = TestFolder(test);
  for (const PaletteFile& file : files) WriteFileBytes(HostPath(folder, file.name), ColorTable(file.bytes));
  return folder;
}

TEST(PaletteSearch, FirstActFileOfTheImageFolder) {
  struct Case {
    const char* what;
    std::vector<PaletteFile> files;
    Colors colors;
  };
  const Case cases[] = {
      {"no colour table", {{"image.txt", 768}}, Colors::Grey},
      {"767 bytes", {{"colors.act", 767}}, Colors::Grey},
      {"768 bytes", {{"colors.act", 768}}, Colors::Table},
      {"769 bytes: the first 768 count", {{"colors.act", 769}}, Colors::Table},
      {"a whole second table behind", {{"colors.act", 1536}}, Colors::Table},
      {"upper-case extension", {{"COLORS.ACT", 768}}, Colors::Table},
      {"empty", {{"colors.act", 0}}, Colors::Grey},
  };
  const std::vector<std::uint8_t> image = WbmBytes(3, 2);
  for (const Case& c : cases) {
    const std::string folder = PaletteFolder("PaletteSearch", c.files);
    const std::string name = ModuleName(folder, "image.wbm");
    const Decode decoded(SourceOf(image), name.c_str());
    SCOPED_TRACE(c.what);
    ExpectDecoded(decoded, 3, 2, c.colors);
  }
}

TEST(PaletteSearch, OnlyTheFirstMatchIsTried) {
  // Which match comes first is the folder's enumeration order: ask the
  // platform, then expect that file's table or, if it is the short one, the
  // grey ramp though a good table lies beside it.
  const std::string folder = PaletteFolder("FirstMatch", {{"a.act", 100}, {"b.act", 768}});
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(ModuleName(folder, "*.act").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  FindClose(search);
  const Colors expected = std::string(found.cFileName) == "b.act" ? Colors::Table : Colors::Grey;
  const std::vector<std::uint8_t> image = WbmBytes(2, 2);
  const std::string name = ModuleName(folder, "image.wbm");
  ExpectDecoded(Decode(SourceOf(image), name.c_str()), 2, 2, expected);

  // A first match that cannot be opened: no second try.
  const std::string withFolder = PaletteFolder("FirstMatchFolder", {});
  std::filesystem::create_directories(HostPath(withFolder, "only.act"));
  ExpectDecoded(Decode(SourceOf(image), ModuleName(withFolder, "image.wbm").c_str()), 2, 2, Colors::Grey);
}

TEST(PaletteSearch, NoFolderNoSearch) {
  const std::string folder = PaletteFolder("NoFolder", {{"colors.act", 768}});
  const std::vector<std::uint8_t> image = WbmBytes(2, 3);
  // Memory input: no name.
  ExpectDecoded(Decode(SourceOf(image), nullptr), 2, 3, Colors::Grey);
  // Slashes only: no backslash, so no folder to search.
  std::string slashed = HostPath(folder, "image.wbm");
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  ExpectDecoded(Decode(SourceOf(image), slashed.c_str()), 2, 3, Colors::Grey);
  // The same folder with a backslash finds the table.
  ExpectDecoded(Decode(SourceOf(image), ModuleName(folder, "image.wbm").c_str()), 2, 3, Colors::Table);
}

TEST(PaletteSearch, PathLimit) {
  // folderBytes counts the folder part of the name with its final
  // backslash; the pattern needs 6 more bytes ("*.act" and the NUL), the
  // palette's path its name's length plus 1.
  struct Case {
    std::size_t folderBytes;
    const char* palette;
    bool found;
  };
  const Case cases[] = {
      {254, "p.act", true},    // 254 + 5 + NUL = 260 for both
      {254, "pp.act", false},  // pattern fits, the palette's path does not
      {255, "p.act", false},   // the pattern does not fit
  };
  const std::vector<std::uint8_t> image = WbmBytes(1, 1);
  for (const Case& c : cases) {
    const std::string base = TestFolder("PathLimit");
    const std::size_t baseBytes = ModuleName(base, "").size();
    ASSERT_LT(baseBytes + 2, c.folderBytes);
    const std::string sub(c.folderBytes - baseBytes - 1, 'd');
    const std::string folder = base + "/" + sub;
    std::filesystem::create_directories(HostPath(base, sub));
    WriteFileBytes(HostPath(folder, c.palette), ColorTable(768));
    const std::string name = ModuleName(folder, "image.wbm");
    ASSERT_EQ(name.size(), c.folderBytes + 9);
    char path[MAX_PATH];
    EXPECT_EQ(FindPaletteFile(name.c_str(), path), c.found) << c.folderBytes << " " << c.palette;
    if (c.found) {
      EXPECT_EQ(std::string(path), ModuleName(folder, c.palette));
      ExpectDecoded(Decode(SourceOf(image), name.c_str()), 1, 1, Colors::Table);
    } else {
      ExpectDecoded(Decode(SourceOf(image), name.c_str()), 1, 1, Colors::Grey);
    }
  }
}

TEST(PaletteSearch, Cp932TrailByteIsNotASeparator) {
  // 0x95 0x5C is one double-byte character; the folder ends at the
  // backslash before it.
  const std::string folder = PaletteFolder("Cp932Name", {{"colors.act", 768}});
  const std::string name = ModuleName(folder, "\x95\x5C.wbm");
  char path[MAX_PATH];
  ASSERT_TRUE(FindPaletteFile(name.c_str(), path));
  EXPECT_EQ(std::string(path), ModuleName(folder, "colors.act"));
}

}  // namespace
