#include "mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

MappedFile::~MappedFile() {
  if (data_ != nullptr) munmap(const_cast<std::uint8_t*>(data_), size_);
}

bool MappedFile::Open(const std::string& path, std::string& error) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat info;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? "is a directory" : "not a regular file";
    close(descriptor);
    return false;
  }
  size_ = static_cast<std::size_t>(info.st_size);
  if (size_ > 0) {
    void* view = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, descriptor, 0);
    if (view == MAP_FAILED) {
      error = std::strerror(errno);
      close(descriptor);
      size_ = 0;
      return false;
    }
    data_ = static_cast<const std::uint8_t*>(view);
  }
  close(descriptor);
  return true;
}
