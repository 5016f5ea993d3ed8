// pak list: the entries of an archive as a table or as JSON.
#include <fnmatch.h>

#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

#include "command.h"
#include "listing.h"
#include "main.h"
#include "mapped_file.h"
#include "names.h"
#include "text.h"

namespace {

struct ListOptions {
  std::string archive;
  std::vector<std::string> patterns;
  std::string encoding = "CP932";
  std::uint32_t offset = 0;
  bool json = false;
};

std::string LocalIsoTime(std::int32_t timestamp) {
  // 0 means the entry has no time, -1 that it lies outside the 32-bit range.
  if (timestamp == 0 || timestamp == -1) return "-";
  const std::time_t seconds = timestamp;
  std::tm fields;
  if (localtime_r(&seconds, &fields) == nullptr) return "-";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &fields);
  return text;
}

int RunList(const ListOptions& options) {
  MappedFile file;
  std::string error;
  if (!file.Open(options.archive, error)) return Fail(options.archive, error, kExitData);
  const std::span<const std::uint8_t> bytes = file.Bytes();
  if (options.offset > bytes.size()) {
    return Fail(options.archive, "offset " + std::to_string(options.offset) + " lies beyond the end of the file",
                kExitData);
  }
  const std::span<const std::uint8_t> archive = bytes.subspan(options.offset);
  if (archive.size() > UINT32_MAX) return Fail(options.archive, "archive larger than 4 GiB", kExitData);
  const auto available = static_cast<std::uint32_t>(archive.size());
  if (!IsPakHeader(archive.data(), available)) {
    return Fail(options.archive, "not a PAK archive (no \"HyPack\" header of version 2 or 3)", kExitNotFormat);
  }
  const std::optional<PakDirectory> directory = OpenDirectory(archive.data(), available);
  if (!directory) return Fail(options.archive, "broken archive: the directory lies outside the file", kExitData);

  if (options.json) std::cout << "[";
  // Patterns match the names as extract writes them (undecodable bytes and
  // '%' as %XX), or the raw name exactly.
  std::size_t shown = 0;
  for (std::int32_t i = 0; i < directory->header.entryCount; ++i) {
    FileInfoRecord record;
    FillRecord(record, CopyEntry(*directory, i), *directory, i);
    const std::string_view rawName(record.fileName);
    const std::string escaped = DecodeNameEscaped(rawName, options.encoding);
    bool match = options.patterns.empty();
    for (const std::string& pattern : options.patterns) {
      match = match || pattern == rawName || fnmatch(pattern.c_str(), escaped.c_str(), FNM_NOESCAPE) == 0;
    }
    if (!match) continue;
    const std::string name = options.encoding == "CP932" ? Cp932ToUtf8(rawName) : escaped;
    if (options.json) {
      std::cout << (shown++ == 0 ? "\n" : ",\n") << "  {\"name_hex\": " << JsonString(HexOf(rawName))
                << ", \"name\": " << JsonString(name) << ", \"method\": " << JsonString(record.methodName)
                << ", \"position\": " << record.position << ", \"packed_size\": " << record.packedSize
                << ", \"unpacked_size\": " << record.unpackedSize << ", \"timestamp\": " << record.timestamp
                << ", \"aux_value\": " << record.auxValue << "}";
    } else {
      if (shown++ == 0) {
        std::printf("%-26s %-8s %12s %12s %-19s %10s\n", "name", "method", "packed", "unpacked", "time",
                    "position");
      }
      std::printf("%s %-8s %12u %12u %-19s %10u\n", PadRight(EscapeControls(name), 26).c_str(), record.methodName,
                  record.packedSize, record.unpackedSize, LocalIsoTime(record.timestamp).c_str(),
                  record.position);
    }
  }
  if (options.json) std::cout << (shown == 0 ? "]\n" : "\n]\n");
  std::cout.flush();
  return 0;
}

}  // namespace

Command AddListCommand(CLI::App& app) {
  auto options = std::make_shared<ListOptions>();
  CLI::App* parser = app.add_subcommand("list", "List the entries of an archive");
  parser->alias("l");
  parser->add_option("ARCHIVE", options->archive, "PAK archive")->required();
  parser->add_option("PATTERN", options->patterns, "Glob patterns over the decoded names; all entries when none");
  parser->add_option("--name-encoding", options->encoding, "Code page of the entry names (iconv name)");
  parser->add_option("--offset", options->offset, "Byte offset of the archive within the file");
  parser->add_flag("--json", options->json, "Print a JSON array instead of a table");
  return {parser, [options] { return RunList(*options); }};
}

