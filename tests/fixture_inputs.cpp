// Writes the files of fixture_content.h into a folder, for
// tests/fixtures/make_fixtures.sh.
#include <cstdio>
#include <fstream>

#include "fixture_content.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fixture_inputs FOLDER\n");
    return 64;
  }
  for (const FixtureFile& file : FixtureFiles()) {
    std::ofstream out(std::string(argv[1]) + "/" + file.name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.bytes.data()), static_cast<std::streamsize>(file.bytes.size()));
    if (!out) return 1;
  }
  return 0;
}
