// WBM images and colour tables for the image module's tests, and the
// checks of the two blocks a decode hands out.
//
// An image of width x height has pixel (column, row) = row * 16 + column * 3
// + 1 (mod 256): every row of a test image differs from its neighbours, so a
// row out of place shows. A colour table has entry n = (10 + n, 20 + 3n,
// 30 + 5n) (mod 256), red, green, blue: never the grey ramp.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host.h"

inline std::uint8_t PixelAt(std::size_t column, std::size_t row) {
  return static_cast<std::uint8_t>(row * 16 + column * 3 + 1);
}

// "!WBM", width, height, 4 bytes of headerTail, then the pixel rows.
inline std::vector<std::uint8_t> WbmBytes(std::uint16_t width, std::uint16_t height,
                                          std::uint32_t headerTail = 0) {
  std::vector<std::uint8_t> bytes = {'!', 'W', 'B', 'M'};
  for (std::uint32_t value : {std::uint32_t{width}, std::uint32_t{height}}) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(headerTail >> (8 * i)));
  for (std::size_t row = 0; row < height; ++row) {
    for (std::size_t column = 0; column < width; ++column) bytes.push_back(PixelAt(column, row));
  }
  return bytes;
}

// fill bytes, then the image, then fill bytes again.
inline std::vector<std::uint8_t> Embedded(const std::vector<std::uint8_t>& image, std::size_t before,
                                          std::size_t after = 0) {
  std::vector<std::uint8_t> bytes(before + image.size() + after, 0xEE);
  if (!image.empty()) std::memcpy(bytes.data() + before, image.data(), image.size());
  return bytes;
}

inline std::uint8_t TableRed(std::size_t n) { return static_cast<std::uint8_t>(10 + n); }
inline std::uint8_t TableGreen(std::size_t n) { return static_cast<std::uint8_t>(20 + 3 * n); }
inline std::uint8_t TableBlue(std::size_t n) { return static_cast<std::uint8_t>(30 + 5 * n); }

// The first byteCount bytes of an endless colour table (past 768 the
// entries go on with n = 256, 257, ...).
inline std::vector<std::uint8_t> ColorTable(std::size_t byteCount) {
  std::vector<std::uint8_t> bytes(byteCount);
  for (std::size_t i = 0; i < byteCount; ++i) {
    const std::size_t n = i / 3;
    bytes[i] = i % 3 == 0 ? TableRed(n) : i % 3 == 1 ? TableGreen(n) : TableBlue(n);
  }
  return bytes;
}

// The name a host passes for folder/leaf: with backslashes, which the
// module takes as the only folder separator (the native platform layer
// turns them back into slashes).
inline std::string ModuleName(const std::string& folder, const std::string& leaf) {
  std::string name = HostPath(folder, leaf);
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return name;
}

enum class Colors { Grey, Table };

// Checks a 1064-byte bitmap-information block and a pixel block against a
// test image of width x height: header fields, all 256 colours (with zero
// reserved bytes), the bottom-up rows and zero padding to the 4-byte stride.
inline void ExpectBitmap(const std::uint8_t* info, const std::uint8_t* pixels, std::size_t pixelBytes,
                         std::uint32_t width, std::uint32_t height, Colors colors) {
  SCOPED_TRACE(testing::Message() << width << " x " << height);
  auto le32 = [&](std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | info[offset + static_cast<std::size_t>(i)];
    return value;
  };
  EXPECT_EQ(le32(0), 40u);
  EXPECT_EQ(le32(4), width);
  EXPECT_EQ(le32(8), height);
  EXPECT_EQ(info[12] | info[13] << 8, 1);
  EXPECT_EQ(info[14] | info[15] << 8, 8);
  for (std::size_t offset = 16; offset < 40; ++offset) ASSERT_EQ(info[offset], 0) << "header byte " << offset;
  for (std::size_t n = 0; n < 256; ++n) {
    const std::uint8_t* entry = info + 40 + 4 * n;
    const bool grey = colors == Colors::Grey;
    ASSERT_EQ(entry[0], grey ? n : TableBlue(n)) << "blue " << n;
    ASSERT_EQ(entry[1], grey ? n : TableGreen(n)) << "green " << n;
    ASSERT_EQ(entry[2], grey ? n : TableRed(n)) << "red " << n;
    ASSERT_EQ(entry[3], 0) << "reserved " << n;
  }
  const std::size_t stride = (width + 3) / 4 * 4;
  ASSERT_EQ(pixelBytes, stride * height);
  for (std::size_t r = 0; r < height; ++r) {
    for (std::size_t column = 0; column < stride; ++column) {
      const std::uint8_t expected = column < width ? PixelAt(column, height - 1 - r) : 0;
      ASSERT_EQ(pixels[r * stride + column], expected) << "block row " << r << " column " << column;
    }
  }
}
