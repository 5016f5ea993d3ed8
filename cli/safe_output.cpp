#include "safe_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

namespace {

// Closes a descriptor at scope end unless it is the caller's root.
class Descriptor {
 public:
  Descriptor(int descriptor, bool owned) : descriptor_(descriptor), owned_(owned) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(-1, false); }
  void Reset(int descriptor, bool owned) {
    if (owned_ && descriptor_ >= 0) close(descriptor_);
    descriptor_ = descriptor;
    owned_ = owned;
  }
  int get() const { return descriptor_; }

 private:
  int descriptor_;
  bool owned_;
};

// Opens the folder holding the last component, creating folders on the
// way; never follows a link. -1 with errno set on failure.
int OpenParent(int root, const std::vector<std::string>& components, bool create) {
  Descriptor current(root, false);
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    if (create && mkdirat(current.get(), components[i].c_str(), 0777) != 0 && errno != EEXIST) return -1;
    const int next = openat(current.get(), components[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return -1;
    current.Reset(next, true);
  }
  return dup(current.get());  // the caller owns the result, root stays open
}

std::string TemporaryName() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string name = ".pak-";
  for (int i = 0; i < 12; ++i) name += kDigits[random() % 36];
  return name + ".tmp";
}

}  // namespace

int OpenOutputFolder(const std::string& folder, std::string& error) {
  std::string prefix;
  for (std::size_t i = 0; i <= folder.size(); ++i) {
    if (i == folder.size() || (folder[i] == '/' && i > 0)) {
      prefix = folder.substr(0, i);
      if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
        error = std::strerror(errno);
        return -1;
      }
    }
  }
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) error = std::strerror(errno);
  return descriptor;
}

bool PathExists(int root, const std::vector<std::string>& components) {
  const int parent = OpenParent(root, components, false);
  if (parent < 0) return false;
  struct stat info;
  const bool exists = fstatat(parent, components.back().c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  close(parent);
  return exists;
}

WriteOutcome WriteBelow(int root, const std::vector<std::string>& components, std::span<const std::uint8_t> bytes,
                        Existing existing, std::optional<std::int64_t> mtime, const std::atomic<bool>& stop,
                        std::string& error) {
  const int parentDescriptor = OpenParent(root, components, true);
  if (parentDescriptor < 0) {
    error = std::strerror(errno);
    return WriteOutcome::Failed;
  }
  const Descriptor parent(parentDescriptor, true);
  const char* name = components.back().c_str();
  struct stat info;
  if (fstatat(parent.get(), name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(info.st_mode)) return WriteOutcome::IsSymlink;
    if (existing != Existing::Replace) return WriteOutcome::Exists;
  }

  std::string temporary;
  int file = -1;
  for (int attempt = 0; attempt < 100 && file < 0; ++attempt) {
    temporary = TemporaryName();
    file = openat(parent.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file < 0 && errno != EEXIST) break;
  }
  if (file < 0) {
    error = std::strerror(errno);
    return WriteOutcome::Failed;
  }
  WriteOutcome outcome = WriteOutcome::Written;
  std::size_t done = 0;
  while (done < bytes.size() && outcome == WriteOutcome::Written) {
    if (stop.load()) {
      outcome = WriteOutcome::Interrupted;
      break;
    }
    const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, std::size_t{1} << 20);
    const ssize_t written = write(file, bytes.data() + done, chunk);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = written < 0 ? std::strerror(errno) : "nothing written";
      outcome = WriteOutcome::Failed;
    } else {
      done += static_cast<std::size_t>(written);
    }
  }
  if (outcome == WriteOutcome::Written && mtime) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*mtime), 0}};
    futimens(file, times);
  }
  if (close(file) != 0 && outcome == WriteOutcome::Written) {
    error = std::strerror(errno);
    outcome = WriteOutcome::Failed;
  }
  if (outcome == WriteOutcome::Written && stop.load()) outcome = WriteOutcome::Interrupted;
  if (outcome == WriteOutcome::Written) {
    // rename replaces a file (never follows a link at the target); link
    // refuses an existing name, so the check and the placement are one step.
    const bool replace = existing == Existing::Replace;
    if (replace && fstatat(parent.get(), name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
      outcome = WriteOutcome::IsSymlink;
    } else if (replace ? renameat(parent.get(), temporary.c_str(), parent.get(), name) != 0
                       : linkat(parent.get(), temporary.c_str(), parent.get(), name, 0) != 0) {
      if (errno == EEXIST) {
        outcome = WriteOutcome::Exists;
      } else {
        error = std::strerror(errno);
        outcome = WriteOutcome::Failed;
      }
    } else if (replace) {
      return WriteOutcome::Written;
    }
  }
  unlinkat(parent.get(), temporary.c_str(), 0);
  return outcome;
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, bool force, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) {
    error = std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(descriptor, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += static_cast<std::size_t>(written);
  }
  fchmod(descriptor, 0644);
  const bool closed = close(descriptor) == 0;
  if (done != bytes.size() || !closed) {
    error = "write failed";
    unlink(temporary.c_str());
    return false;
  }
  // link() refuses an existing name: the check and the creation are one step.
  const bool placed = force ? rename(temporary.c_str(), path.c_str()) == 0 : link(temporary.c_str(), path.c_str()) == 0;
  if (!placed) error = errno == EEXIST ? "exists (use --force to replace it)" : std::strerror(errno);
  unlink(temporary.c_str());
  return placed;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "read failed";
    return false;
  }
  return true;
}
