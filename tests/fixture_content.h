// Deterministic file contents of the archives in tests/fixtures/, made by
// `pak create` from the files that tests/fixture_inputs.cpp writes. The
// tests that read those archives (natively and under Wine) regenerate the
// expected bytes from here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FixtureFile {
  std::string name;  // UTF-8 file name
  std::vector<std::uint8_t> bytes;
  std::string entryName = name;  // the entry's name in the archive (code page 932)
};

inline std::vector<FixtureFile> FixtureFiles() {
  std::uint64_t state = 0x2545F4914F6CDD1Dull;
  auto next = [&state] {  // xorshift64*
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
  };
  static const char* const kWords[] = {"the ", "archive ", "entry ", "block ", "name ", "of ", "a ", "and ",
                                       "data ", "game ", "script ", "scene ", "\r\n", "voice ", "image ", "text "};
  FixtureFile text{"SCRIPT.TXT", {}};
  while (text.bytes.size() < 40000) {
    const char* word = kWords[next() % 16];
    text.bytes.insert(text.bytes.end(), word, word + std::char_traits<char>::length(word));
  }
  FixtureFile table{"TABLE.BIN", {}};
  for (std::uint32_t i = 0; table.bytes.size() < 70000; ++i) {
    const std::uint32_t value = i * i / 7 + (next() % 4);
    for (int k = 0; k < 4; ++k) table.bytes.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
  }
  FixtureFile noise{"NOISE.BIN", {}};
  for (int i = 0; i < 3000; ++i) noise.bytes.push_back(static_cast<std::uint8_t>(next() >> 56));
  return {
      text,
      table,
      noise,
      {"ZEROS.DAT", std::vector<std::uint8_t>(1000, 0)},
      {"ONE.DAT", {0x42}},
      {"EMPTY", {}},
      {"\xE8\xA6\x8B\xE6\x9C\xAC.TXT", {'m', 'i', 'h', 'o', 'n'}, "\x8C\xA9\x96\x7B.TXT"},  // 見本.TXT
  };
}
