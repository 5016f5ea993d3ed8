// pak create: a PAK archive from files, each entry stored with the chosen
// method or, with auto, the smallest of None, Mariel and Cocotte.
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cocotte_encoder.h"
#include "command.h"
#include "listing.h"
#include "main.h"
#include "mariel_encoder.h"
#include "pak_writer.h"
#include "safe_output.h"
#include "text.h"

namespace {

struct CreateOptions {
  std::string archive;
  std::vector<std::string> files;
  std::string method = "auto";
  std::vector<std::string> methodFor;  // PATTERN=METHOD, first match wins
  int format = 3;
  int level = 2;
  bool force = false;
};

std::int64_t StandardOffsetWest() {
  tzset();
  return timezone;
}

// Packs data with method; "auto" keeps the smallest of None, Mariel and
// Cocotte (None on a tie, then Mariel, which decodes fastest).
void Pack(const std::vector<std::uint8_t>& data, const CreateOptions& options, const std::string& method,
          PakWriteEntry& entry) {
  entry.unpackedSize = static_cast<std::uint32_t>(data.size());
  if (method == "none" || method == "notcode") {
    entry.method = method == "none" ? MethodNone : MethodNotCode;
    entry.packed = data;
    if (entry.method == MethodNotCode) {
      for (std::uint8_t& byte : entry.packed) byte = static_cast<std::uint8_t>(~byte);
    }
    return;
  }
  if (method == "mariel" || method == "auto") {
    MarielEncodeOptions mariel;
    mariel.level = options.level;
    entry.method = MethodMariel;
    entry.packed = EncodeMariel(data, mariel);
  }
  if (method == "cocotte" || method == "auto") {
    std::vector<std::uint8_t> packed = EncodeCocotte(data);
    if (method == "cocotte" || packed.size() < entry.packed.size()) {
      entry.method = MethodCocotte;
      entry.packed = std::move(packed);
    }
  }
  if (method == "auto" && entry.packed.size() >= data.size()) {
    entry.method = MethodNone;
    entry.packed = data;
  }
}

// The method of the first --method-for rule whose pattern matches the file's
// name (fnmatch), else --method.
std::string MethodFor(const CreateOptions& options, const std::string& leaf) {
  for (const std::string& rule : options.methodFor) {
    const std::size_t equals = rule.rfind('=');
    if (fnmatch(rule.substr(0, equals).c_str(), leaf.c_str(), 0) == 0) return rule.substr(equals + 1);
  }
  return options.method;
}

int RunCreate(const CreateOptions& options) {
  if (!options.force && std::filesystem::exists(std::filesystem::symlink_status(options.archive))) {
    return Fail(options.archive, "exists (use --force to replace it)", kExitData);
  }
  const std::int64_t offsetWest = StandardOffsetWest();
  std::vector<PakWriteEntry> entries;
  std::set<std::string> names;
  std::uint64_t unpackedTotal = 0;
  for (const std::string& file : options.files) {
    const std::string leaf = std::filesystem::path(file).filename().string();
    const std::optional<std::string> raw = Utf8ToCp932(leaf);
    if (!raw) return Fail(file, "the name has no code page 932 form", kExitData);
    std::string why;
    const std::optional<EntryNameFields> fields = SplitEntryName(*raw, why);
    if (!fields) return Fail(file, "cannot be an entry name: " + why, kExitData);
    if (!names.insert(*raw).second) return Fail(file, "a second entry of the same name", kExitData);

    struct stat info;
    if (stat(file.c_str(), &info) != 0) return Fail(file, std::strerror(errno), kExitData);
    if (!S_ISREG(info.st_mode)) return Fail(file, "not a regular file", kExitData);
    if (static_cast<std::uint64_t>(info.st_size) > INT32_MAX) return Fail(file, "larger than 2 GiB", kExitData);
    std::vector<std::uint8_t> data;
    std::string error;
    if (!ReadWholeFile(file, data, error)) return Fail(file, error, kExitData);

    PakWriteEntry entry;
    entry.name = fields->name;
    entry.extension = fields->extension;
    if (options.format == 3) entry.fileTime = FileTimeOfLocal(info.st_mtime, offsetWest);
    Pack(data, options, MethodFor(options, leaf), entry);
    unpackedTotal += data.size();
    entries.push_back(std::move(entry));
  }

  std::vector<std::uint8_t> bytes;
  try {
    bytes = WritePak(options.format, entries);
  } catch (const std::length_error& error) {
    return Fail(options.archive, error.what(), kExitData);
  }
  std::string error;
  if (!WriteFileAtomically(options.archive, bytes, options.force, error)) return Fail(options.archive, error, kExitData);
  std::map<std::string, int> methods;
  for (const PakWriteEntry& entry : entries) ++methods[MethodNameOf(entry.method)];
  std::cerr << "pak: created " << options.archive << ": " << entries.size() << " entries (";
  const char* separator = "";
  for (const auto& [method, count] : methods) {
    std::cerr << separator << count << " " << method;
    separator = ", ";
  }
  std::cerr << "), " << unpackedTotal << " bytes in " << bytes.size() << " bytes\n";
  return kExitOk;
}

}  // namespace

Command AddCreateCommand(CLI::App& app) {
  auto options = std::make_shared<CreateOptions>();
  CLI::App* parser = app.add_subcommand("create", "Create an archive from files (entry names: the file names)");
  parser->alias("c");
  parser->add_option("ARCHIVE", options->archive, "Archive to write")->required();
  parser->add_option("FILE", options->files, "Files to store, in this order")->required();
  parser->add_option("--method", options->method, "Storage method (auto: the smallest of none, mariel, cocotte)")
      ->check(CLI::IsMember({"auto", "none", "mariel", "cocotte", "notcode"}));
  parser->add_option("--method-for", options->methodFor,
                     "PATTERN=METHOD: files whose name matches PATTERN use METHOD (repeatable; first match wins)")
      ->allow_extra_args(false)
      ->check([](const std::string& rule) -> std::string {
        const std::size_t equals = rule.rfind('=');
        if (equals == std::string::npos || equals == 0) return "expected PATTERN=METHOD";
        const std::string method = rule.substr(equals + 1);
        for (const char* known : {"auto", "none", "mariel", "cocotte", "notcode"}) {
          if (method == known) return "";
        }
        return "unknown method " + method;
      });
  parser->add_option("--format", options->format, "Archive version (3 stores file times)")
      ->check(CLI::IsMember({2, 3}));
  parser->add_option("--level", options->level, "Mariel effort: 1 greedy, 2 lazy, 3 smallest")->check(CLI::Range(1, 9));
  parser->add_flag("--force", options->force, "Replace an existing archive");
  return {parser, [options] { return RunCreate(*options); }};
}
