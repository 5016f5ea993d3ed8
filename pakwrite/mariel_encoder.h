// Mariel encoder: LZ77 in the format's flag-word layout.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

struct MarielEncodeOptions {
  // 1: greedy, the best match at each position; 2: lazy matching, one
  // position of look-ahead (default); 3: optimal parse over the matches of
  // bounded hash-chain searches; 4: optimal parse over every position of
  // the window. Levels below 1 act as 1, above 4 as 4.
  int level = 2;
};

// The packed bytes of a Mariel entry whose unpacked bytes are data: they
// decode to data with UnpackMariel into a zero-filled block of data.size()
// bytes. Empty data gives empty packed data. Never longer than data.size()
// + 4 * ceil(data.size() / 32), the size of the stream of literals only.
// Throws std::length_error when data holds more than 2^31 - 1 bytes.
std::vector<std::uint8_t> EncodeMariel(std::span<const std::uint8_t> data, const MarielEncodeOptions& options = {});
