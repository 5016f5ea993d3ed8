// Writing files below an output folder without ever following a symbolic
// link planted there: every folder is opened with O_NOFOLLOW relative to
// its parent (openat), the bytes go to a new temporary file created with
// O_EXCL in the target folder, which is then renamed (or, when existing
// files are kept, hard-linked) into place. The temporary file is removed on
// every failure path.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum class Existing { Refuse, Keep, Replace };

enum class WriteOutcome {
  Written,
  Exists,       // the file exists and was not replaced (Refuse or Keep)
  IsSymlink,    // a symbolic link stands at the path: never replaced
  Interrupted,  // stop was set: nothing left behind
  Failed,       // error holds the reason
};

// Opens (creating it and its parents when missing) the output folder.
// Returns a descriptor or -1 with error set.
int OpenOutputFolder(const std::string& folder, std::string& error);

// True when something (file, folder or link) already stands at the
// relative path components below root; does not follow links.
bool PathExists(int root, const std::vector<std::string>& components);

// Writes bytes as components (folders, then the file name) below the folder
// open as root. mtime, when given, becomes the file's modification time.
// stop is polled between chunks of 1 MiB.
WriteOutcome WriteBelow(int root, const std::vector<std::string>& components, std::span<const std::uint8_t> bytes,
                        Existing existing, std::optional<std::int64_t> mtime, const std::atomic<bool>& stop,
                        std::string& error);

// Writes bytes to a new temporary file beside path (any path, not below an
// output folder) and moves it into place: renamed over an existing file
// with force, hard-linked otherwise, so that an existing file is never
// replaced and the check and the creation are one step. An interrupted or
// failed run leaves no half file. False with error set on failure.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, bool force, std::string& error);

// Reads the whole file at path into bytes; false with error set when it
// cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);
