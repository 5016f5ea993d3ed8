// pak repack: an archive rebuilt from a folder that pak extract --manifest
// wrote.
//
// Rule: an entry whose file has the recorded size and hash is unchanged.
// When every entry is unchanged the new archive is a byte copy of the
// original, whatever its layout (directory first or last, gaps, foreign
// bytes). Otherwise the archive is written anew in the writer's layout
// (header, packed data in entry order, directory last): every entry keeps
// its order, raw name bytes, method, aux flag and value and file time; an
// unchanged entry's packed bytes are copied through as they were, a changed
// one is encoded again with its original method. Entries that the manifest
// records without a file (not extracted, refused names, failed decodes)
// count as unchanged.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "archive.h"
#include "cocotte_encoder.h"
#include "command.h"
#include "manifest.h"
#include "mariel_encoder.h"
#include "pak_writer.h"
#include "safe_output.h"
#include "text.h"

namespace {

struct RepackOptions {
  std::string original;
  std::string folder;
  std::string output;
  std::string manifest;
  bool force = false;
};

std::string FieldText(const std::uint8_t* bytes, std::size_t size) {
  std::size_t length = 0;
  while (length < size && bytes[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

std::vector<std::uint8_t> Encode(std::uint8_t method, const std::vector<std::uint8_t>& data) {
  switch (method) {
    case MethodMariel:
      return EncodeMariel(data);
    case MethodCocotte:
      return EncodeCocotte(data);
    case MethodNotCode: {
      std::vector<std::uint8_t> packed = data;
      for (std::uint8_t& byte : packed) byte = static_cast<std::uint8_t>(~byte);
      return packed;
    }
    default:
      return data;
  }
}

int RunRepack(const RepackOptions& options) {
  Archive archive;
  if (const int status = archive.Open(options.original); status != kExitOk) return status;
  const std::string manifestPath = options.manifest.empty() ? options.folder + "/.pak-manifest" : options.manifest;
  std::vector<std::uint8_t> manifestBytes;
  std::string error;
  if (!ReadWholeFile(manifestPath, manifestBytes, error)) return Fail(manifestPath, error, kExitData);
  const std::optional<Manifest> manifest =
      ParseManifest(std::string(manifestBytes.begin(), manifestBytes.end()), error);
  if (!manifest) return Fail(manifestPath, error, kExitData);

  const std::span<const std::uint8_t> original = archive.Bytes();
  const auto& entries = archive.Entries();
  if (manifest->archiveBytes != original.size() || manifest->archiveHash != Fnv1a64(original) ||
      manifest->entries.size() != entries.size() || manifest->version != archive.Directory().header.version) {
    return Fail(manifestPath, "was not written for " + options.original, kExitData);
  }

  std::vector<PakWriteEntry> rebuilt;
  std::vector<std::size_t> outside;  // unchanged entries whose packed data are not in the archive
  std::size_t changed = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PakEntry& fields = entries[i].fields;
    const ManifestEntry& line = manifest->entries[i];
    const std::uint64_t fileTime = (std::uint64_t{fields.fileTimeHigh} << 32) | fields.fileTimeLow;
    if (line.nameHex != HexOf(entries[i].rawName) || line.method != fields.method || line.auxFlag != fields.auxFlag ||
        line.auxValue != fields.auxValue || line.fileTime != fileTime || line.unpackedSize != fields.unpackedSize) {
      return Fail(manifestPath, "entry " + std::to_string(i) + " does not match " + options.original, kExitData);
    }
    PakWriteEntry entry;
    entry.name = FieldText(fields.name, kEntryNameBytes);
    entry.extension = FieldText(fields.extension, kEntryExtensionBytes);
    entry.method = fields.method;
    entry.auxFlag = fields.auxFlag;
    entry.auxValue = fields.auxValue;
    entry.fileTime = fileTime;
    entry.unpackedSize = fields.unpackedSize;
    std::vector<std::uint8_t> data;
    bool same = true;
    if (!line.path.empty()) {
      const std::string path = options.folder + "/" + line.path;
      if (!ReadWholeFile(path, data, error)) return Fail(path, error, kExitData);
      same = data.size() == line.unpackedSize && line.hash && Fnv1a64(data) == *line.hash;
    }
    if (same) {
      // Packed data offsets count from the end of the 16-byte header.
      const std::uint64_t start = kPakHeaderBytes + std::uint64_t{fields.dataOffset};
      if (start > original.size() || fields.packedSize > original.size() - start) {
        outside.push_back(i);  // fatal only when the archive is rebuilt
      } else {
        entry.packed.resize(fields.packedSize);
        if (fields.packedSize != 0) std::memcpy(entry.packed.data(), original.data() + start, fields.packedSize);
      }
    } else {
      if (data.size() > INT32_MAX) return Fail(line.path, "larger than 2 GiB", kExitData);
      if (fields.method > MethodNotCode) return Fail(line.path, "changed, but its method cannot be encoded", kExitData);
      entry.unpackedSize = static_cast<std::uint32_t>(data.size());
      entry.packed = Encode(fields.method, data);
      ++changed;
      std::cerr << "pak: " << line.path << ": changed, encoded again as " << MethodNameOf(fields.method) << "\n";
    }
    rebuilt.push_back(std::move(entry));
  }

  std::vector<std::uint8_t> fresh;
  std::span<const std::uint8_t> bytes = original;
  if (changed != 0) {
    if (!outside.empty()) {
      return Fail(options.original,
                  "entry " + std::to_string(outside.front()) + ": packed data lie outside the archive", kExitData);
    }
    try {
      fresh = WritePak(archive.Directory().header.version, rebuilt);
    } catch (const std::length_error& failure) {
      return Fail(options.output, failure.what(), kExitData);
    }
    bytes = fresh;
  }
  if (!WriteFileAtomically(options.output, bytes, options.force, error)) return Fail(options.output, error, kExitData);
  std::cerr << "pak: wrote " << options.output << ": " << entries.size() << " entries, " << changed << " changed"
            << (changed == 0 ? " (a copy of the original)" : "") << "\n";
  return kExitOk;
}

}  // namespace

Command AddRepackCommand(CLI::App& app) {
  auto options = std::make_shared<RepackOptions>();
  CLI::App* parser = app.add_subcommand(
      "repack", "Rebuild an archive from a folder extracted with --manifest (unchanged: a byte-identical copy)");
  parser->add_option("ORIGINAL", options->original, "The archive the folder was extracted from")->required();
  parser->add_option("DIR", options->folder, "The extracted folder")->required();
  parser->add_option("-o,--output", options->output, "Archive to write")->required();
  parser->add_option("--manifest", options->manifest, "The manifest (default: DIR/.pak-manifest)");
  parser->add_flag("--force", options->force, "Replace an existing output archive");
  return {parser, [options] { return RunRepack(*options); }};
}
