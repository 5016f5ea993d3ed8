// pak extract, pak test and pak cat: entries decoded through the format
// core, written to files, checked, or sent to standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive.h"
#include "command.h"

namespace {

// Frees a LocalAlloc block when it goes out of scope.
struct BlockDeleter {
  void operator()(void* block) const { LocalFree(block); }
};
using Block = std::unique_ptr<void, BlockDeleter>;

std::span<const std::uint8_t> BytesOf(const Block& block) {
  return {static_cast<const std::uint8_t*>(block.get()), LocalSize(block.get())};
}

bool WriteAll(int descriptor, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

// Why a decoded name cannot be a file name inside the output folder, or
// null when it can. Folders inside names come with the full name policy;
// until then such entries are skipped.
const char* UnsafeNameReason(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name == "." || name == "..") return "name is a folder reference";
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) return "name holds a folder separator";
  if (name.size() >= 2 && name[1] == ':' && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
    return "name starts with a drive letter";
  }
  return nullptr;
}

// Indices of the entries named (decoded or raw), all when names is empty.
// Names that match nothing are reported; missing is set then.
std::vector<std::size_t> Select(const Archive& archive, const std::vector<std::string>& names, bool& missing) {
  std::vector<std::size_t> chosen;
  const auto& entries = archive.Entries();
  if (names.empty()) {
    for (std::size_t i = 0; i < entries.size(); ++i) chosen.push_back(i);
    return chosen;
  }
  std::set<std::string> found;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    for (const std::string& name : names) {
      if (entries[i].name == name || entries[i].rawName == name) {
        chosen.push_back(i);
        found.insert(name);
        break;
      }
    }
  }
  for (const std::string& name : names) {
    if (found.count(name) == 0) {
      std::cerr << "pak: no entry named " << name << "\n";
      missing = true;
    }
  }
  return chosen;
}

struct ExtractOptions {
  std::string archive;
  std::vector<std::string> names;
  std::string folder = ".";
  bool force = false;
};

int RunExtract(const ExtractOptions& options) {
  Archive archive;
  if (const int status = archive.Open(options.archive); status != kExitOk) return status;
  bool warnings = false;
  bool failures = false;
  const std::vector<std::size_t> chosen = Select(archive, options.names, warnings);
  if (mkdir(options.folder.c_str(), 0777) != 0 && errno != EEXIST) {
    return Fail(options.folder, std::strerror(errno), kExitData);
  }
  for (const std::size_t i : chosen) {
    const ArchiveEntry& entry = archive.Entries()[i];
    if (const char* reason = UnsafeNameReason(entry.name)) {
      std::cerr << "pak: skipped " << entry.name << ": " << reason << "\n";
      warnings = true;
      continue;
    }
    HLOCAL raw = nullptr;
    const ResultCode result = archive.Extract(entry, &raw);
    const Block block(raw);
    if (result != Success) {
      std::cerr << "pak: " << entry.name << ": " << ResultText(result) << " (" << result << ")\n";
      failures = true;
      continue;
    }
    const std::string path = options.folder + "/" + entry.name;
    // O_NOFOLLOW: a symbolic link planted under the entry's name is not followed.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (options.force ? O_TRUNC : O_EXCL);
    const int descriptor = open(path.c_str(), flags, 0666);
    if (descriptor < 0) {
      if (errno == EEXIST) {
        std::cerr << "pak: skipped " << path << ": file exists (use -f to overwrite)\n";
        warnings = true;
      } else {
        std::cerr << "pak: " << path << ": " << std::strerror(errno) << "\n";
        failures = true;
      }
      continue;
    }
    const bool written = WriteAll(descriptor, BytesOf(block));
    if (close(descriptor) != 0 || !written) {
      std::cerr << "pak: " << path << ": write failed\n";
      unlink(path.c_str());
      failures = true;
    }
  }
  return failures ? kExitData : warnings ? kExitWarnings : kExitOk;
}

int RunTest(const std::string& path) {
  Archive archive;
  if (const int status = archive.Open(path); status != kExitOk) return status;
  std::size_t failed = 0;
  for (const ArchiveEntry& entry : archive.Entries()) {
    HLOCAL raw = nullptr;
    const ResultCode result = archive.Extract(entry, &raw);
    const Block block(raw);
    if (result != Success) {
      std::cout << entry.name << ": " << ResultText(result) << " (" << result << ")\n";
      ++failed;
    }
  }
  std::cout << archive.Entries().size() - failed << " of " << archive.Entries().size() << " entries OK\n";
  return failed == 0 ? kExitOk : kExitData;
}

int RunCat(const std::string& path, const std::string& name) {
  Archive archive;
  if (const int status = archive.Open(path); status != kExitOk) return status;
  bool missing = false;
  const std::vector<std::size_t> chosen = Select(archive, {name}, missing);
  if (chosen.empty()) return kExitData;
  HLOCAL raw = nullptr;
  const ResultCode result = archive.Extract(archive.Entries()[chosen.front()], &raw);
  const Block block(raw);
  if (result != Success) return Fail(path, name + ": " + ResultText(result), kExitData);
  if (!WriteAll(STDOUT_FILENO, BytesOf(block))) return Fail("stdout", std::strerror(errno), kExitData);
  return kExitOk;
}

}  // namespace

Command AddExtractCommand(CLI::App& app) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* parser = app.add_subcommand("extract", "Extract all entries, or the named ones, into a folder");
  parser->alias("x");
  parser->add_option("ARCHIVE", options->archive, "PAK archive")->required();
  parser->add_option("NAME", options->names, "Entries to extract (decoded names); all when none");
  parser->add_option("-o,--output", options->folder, "Output folder (created if missing)");
  parser->add_flag("-f,--force", options->force, "Overwrite existing files");
  return {parser, [options] { return RunExtract(*options); }};
}

Command AddTestCommand(CLI::App& app) {
  auto path = std::make_shared<std::string>();
  CLI::App* parser = app.add_subcommand("test", "Decode every entry; one line per failing entry");
  parser->alias("t");
  parser->add_option("ARCHIVE", *path, "PAK archive")->required();
  return {parser, [path] { return RunTest(*path); }};
}

Command AddCatCommand(CLI::App& app) {
  auto path = std::make_shared<std::string>();
  auto name = std::make_shared<std::string>();
  CLI::App* parser = app.add_subcommand("cat", "Write one entry to standard output");
  parser->add_option("ARCHIVE", *path, "PAK archive")->required();
  parser->add_option("NAME", *name, "Entry name")->required();
  return {parser, [path, name] { return RunCat(*path, *name); }};
}
