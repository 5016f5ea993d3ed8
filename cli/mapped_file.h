// A whole file mapped read-only, for the command-line tool.
#pragma once

#include <cstdint>
#include <span>
#include <string>

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // Maps path; false with error set (strerror text) when it cannot. An
  // empty file maps to an empty span.
  bool Open(const std::string& path, std::string& error);
  std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};
