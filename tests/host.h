// What a host does, for the export-level tests: load a module by path and
// find its exports by name, release the blocks it hands out, pass real
// open file handles, and write fixture files where both the test and the
// module can reach them (under Wine the module sees Windows paths).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spi.h"

using HostBlock = void*;

class Module {
 public:
  explicit Module(const std::string& path);
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  ~Module();

  bool Loaded() const { return handle_ != nullptr; }
  void* Symbol(const char* name) const;
  template <class Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(Symbol(name));
  }

  // The host's LocalFree and LocalSize: kernel32's on Windows, the
  // module's own exports elsewhere.
  void Free(HostBlock block) const;
  std::size_t Size(HostBlock block) const;

 private:
  void* handle_ = nullptr;
  using FreeFn = void* (*)(void*);
  using SizeFn = std::size_t (*)(void*);
  FreeFn free_ = nullptr;
  SizeFn size_ = nullptr;
};

// A folder for one test's files, emptied on creation.
std::string TestFolder(const std::string& name);

// path + "/" + leaf in the host's own form (Z:\... under Wine).
std::string HostPath(const std::string& folder, const std::string& leaf);

void WriteFileBytes(const std::string& hostPath, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFileBytes(const std::string& hostPath);
bool FileExists(const std::string& hostPath);

// Handles the process holds: open descriptors natively, the process handle
// count on Windows. Compared before and after a call to find leaks.
int OpenHandleCount();

// Blocks the module's LocalAlloc handed out and LocalFree has not taken
// back, compared before and after calls to find leaks: natively the count
// kept by the module's own platform layer; on Windows the busy blocks of
// the process heap, where LocalAlloc takes fixed blocks from (other users
// of that heap must be at rest between the two counts).
long LiveBlockCount(const Module& module);

// A host's open handle to a file, for IsSupported.
class HostFile {
 public:
  explicit HostFile(const std::string& hostPath);
  HostFile(const HostFile&) = delete;
  HostFile& operator=(const HostFile&) = delete;
  ~HostFile();
  bool Open() const;
  SpiHandleOrBlock Handle() const;
  void Seek(std::int64_t position);
  std::int64_t Position() const;

 private:
  std::intptr_t handle_ = -1;
};
