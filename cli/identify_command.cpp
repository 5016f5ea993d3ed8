// pak identify: what each file is (PAK archive or WBM image), or why it is
// neither.
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "main.h"
#include "mapped_file.h"
#include "wbm.h"

namespace {

// One line on stdout per file; the status of the worst file.
int Identify(const std::string& path) {
  MappedFile file;
  std::string error;
  if (!file.Open(path, error)) return Fail(path, error, kExitData);
  const std::span<const std::uint8_t> bytes = file.Bytes();
  const auto available = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), UINT32_MAX));
  if (IsPakHeader(bytes.data(), available)) {
    const std::optional<PakDirectory> directory = OpenDirectory(bytes.data(), available);
    if (!directory) {
      std::cout << path << ": not a PAK archive or WBM image (PAK header, but the directory lies out of range)\n";
      return kExitNotFormat;
    }
    std::cout << path << ": PAK archive, version " << unsigned{directory->header.version} << ", "
              << directory->header.entryCount << " entries\n";
    return kExitOk;
  }
  const InputSource input{bytes.data(), available, 0};
  if (IsWbmHeader(input)) {
    WbmImage image;
    if (ReadWbmImage(input, image) != Success) {
      std::cout << path << ": not a PAK archive or WBM image (WBM header, but the file ends inside the image)\n";
      return kExitNotFormat;
    }
    std::cout << path << ": WBM image, " << image.header.width << " x " << image.header.height << " pixels\n";
    return kExitOk;
  }
  const char* reason = "bad magic";
  if (bytes.size() >= kMagicBytes + 1 && std::memcmp(bytes.data(), kPakMagic, kMagicBytes) == 0) {
    reason = "PAK magic, but bad version";
  } else if (bytes.size() < 8) {
    reason = "too short";
  }
  std::cout << path << ": not a PAK archive or WBM image (" << reason << ")\n";
  return kExitNotFormat;
}

}  // namespace

Command AddIdentifyCommand(CLI::App& app) {
  auto files = std::make_shared<std::vector<std::string>>();
  CLI::App* parser = app.add_subcommand("identify", "Say what each file is: PAK archive, WBM image or neither");
  parser->add_option("FILE", *files, "Files to look at")->required();
  return {parser, [files] {
            int worst = kExitOk;
            for (const std::string& file : *files) worst = std::max(worst, Identify(file));
            return worst;
          }};
}
