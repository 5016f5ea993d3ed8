// A plain main for any compiler: replays files, and every file of the
// folders named, through the harness's LLVMFuzzerTestOneInput, so that the
// seeds and the crash corpus run as an ordinary test. Files of a folder run
// in name order. A path that does not exist, or a run that finds no input
// at all, fails: a test that replays nothing proves nothing. A broken
// property aborts inside the harness.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Replay(const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  // As libFuzzer does: the input in a block of exactly its size.
  const auto copy = ExactCopy(bytes.data(), bytes.size());
  LLVMFuzzerTestOneInput(copy.get(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
    } else if (std::filesystem::is_regular_file(path)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
      return 1;
    }
    for (const auto& file : files) Replay(file);
    std::printf("%s: %zu inputs\n", argv[i], files.size());
    replayed += files.size();
  }
  if (replayed == 0) {
    std::fprintf(stderr, "no input replayed\n");
    return 1;
  }
  std::printf("%zu inputs replayed\n", replayed);
  return 0;
}
