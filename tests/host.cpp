#include "host.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#ifndef PAK_TEST_TMPDIR
#error "PAK_TEST_TMPDIR must name a folder for test files"
#endif

namespace {

#ifdef _WIN32
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}
#endif

}  // namespace

Module::Module(const std::string& path) {
#ifdef _WIN32
  handle_ = reinterpret_cast<void*>(LoadLibraryA(WindowsPath(path).c_str()));
#else
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ != nullptr) {
    free_ = reinterpret_cast<FreeFn>(dlsym(handle_, "LocalFree"));
    size_ = reinterpret_cast<SizeFn>(dlsym(handle_, "LocalSize"));
  }
#endif
}

Module::~Module() {
  if (handle_ == nullptr) return;
#ifdef _WIN32
  FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

void* Module::Symbol(const char* name) const {
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}

void Module::Free(HostBlock block) const {
  if (block == nullptr) return;
#ifdef _WIN32
  LocalFree(reinterpret_cast<HLOCAL>(block));
#else
  free_(block);
#endif
}

std::size_t Module::Size(HostBlock block) const {
#ifdef _WIN32
  return LocalSize(reinterpret_cast<HLOCAL>(block));
#else
  return size_(block);
#endif
}

int OpenHandleCount() {
#ifdef _WIN32
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return static_cast<int>(count);
#else
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
#endif
}

long LiveBlockCount([[maybe_unused]] const Module& module) {
#ifdef _WIN32
  HANDLE heap = GetProcessHeap();
  long busy = 0;
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry;
  entry.lpData = nullptr;
  while (HeapWalk(heap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) ++busy;
  }
  HeapUnlock(heap);
  return busy;
#else
  const auto count = module.Get<long (*)()>("PakLiveLocalBlocks");
  return count == nullptr ? -1 : count();
#endif
}

std::string TestFolder(const std::string& name) {
  const std::filesystem::path folder = std::filesystem::path(PAK_TEST_TMPDIR) / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder.string();
}

std::string HostPath(const std::string& folder, const std::string& leaf) {
  const std::string path = folder + "/" + leaf;
#ifdef _WIN32
  return WindowsPath(path);
#else
  return path;
#endif
}

void WriteFileBytes(const std::string& hostPath, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& hostPath) {
  std::FILE* file = std::fopen(hostPath.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

HostFile::HostFile(const std::string& hostPath) {
#ifdef _WIN32
  HANDLE handle = CreateFileA(hostPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  handle_ = handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
#else
  handle_ = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
#endif
}

HostFile::~HostFile() {
  if (handle_ == -1) return;
#ifdef _WIN32
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
#else
  close(static_cast<int>(handle_));
#endif
}

bool HostFile::Open() const { return handle_ != -1; }

SpiHandleOrBlock HostFile::Handle() const { return static_cast<SpiHandleOrBlock>(handle_); }

void HostFile::Seek(std::int64_t position) {
#ifdef _WIN32
  SetFilePointer(reinterpret_cast<HANDLE>(handle_), static_cast<LONG>(position), nullptr, FILE_BEGIN);
#else
  lseek(static_cast<int>(handle_), position, SEEK_SET);
#endif
}

std::int64_t HostFile::Position() const {
#ifdef _WIN32
  return SetFilePointer(reinterpret_cast<HANDLE>(handle_), 0, nullptr, FILE_CURRENT);
#else
  return lseek(static_cast<int>(handle_), 0, SEEK_CUR);
#endif
}
