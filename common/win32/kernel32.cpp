// POSIX implementation of the kernel32 stand-in declared in windows.h, and
// its test hooks (fault_hooks.h).
#include "windows.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fault_hooks.h"

namespace {

// Test hooks: per fault point the calls since it was last armed and the
// call (counted from 1) that is to fail, 0 for none.
std::atomic<unsigned> faultCalls[kPakFaultPoints];
std::atomic<unsigned> faultAt[kPakFaultPoints];
std::atomic<long> liveLocalBlocks{0};
std::atomic<std::size_t> localAllocLimit{0};

// Counts a call of point; true when it is the one armed to fail.
bool FailsNow(PakFaultPoint point) {
  const unsigned call = faultCalls[point].fetch_add(1, std::memory_order_relaxed) + 1;
  const unsigned armed = faultAt[point].load(std::memory_order_relaxed);
  return armed != 0 && call == armed;
}

// Local blocks carry their requested size in a header in front of the
// address handed out; 16 bytes keep the block aligned for any scalar.
constexpr std::size_t kLocalHeader = 16;

// Large blocks are the outputs of whole entries, written once from front to
// back. Backing them with 2 MiB pages where the system allows it takes one
// fault per 2 MiB instead of one per 4 KiB: for a 64 MiB entry 17,000 page
// faults become 1,200 and the kernel's time halves (60 -> 30 ms). Advice
// only: where it is refused, nothing changes.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

void AdviseHugePages(unsigned char* block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (bytes < 2 * kHugePage) return;
  const auto first = (reinterpret_cast<std::uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

int DescriptorOf(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}

HANDLE HandleOf(int descriptor) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(descriptor));
}

bool IsBadHandle(HANDLE handle) {
  const std::intptr_t value = reinterpret_cast<std::intptr_t>(handle);
  return value < 0 || value > 0x7FFFFFFF;
}

// Windows paths: backslash and slash both separate folders.
std::string PosixPath(const char* name) {
  std::string path(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Wildcard match with '*' and '?', ignoring the case of ASCII letters.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern == '?' || FoldCase(*pattern) == FoldCase(*name)) {
      ++pattern;
      ++name;
    } else if (starPattern != nullptr) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

long PageSize() {
  static const long size = sysconf(_SC_PAGESIZE);
  return size;
}

}  // namespace

extern "C" {

void PakFailNthCall(int point, unsigned n) {
  if (point < 0 || point >= kPakFaultPoints) return;
  faultAt[point].store(0, std::memory_order_relaxed);
  faultCalls[point].store(0, std::memory_order_relaxed);
  faultAt[point].store(n, std::memory_order_relaxed);
}

unsigned PakCallCount(int point) {
  if (point < 0 || point >= kPakFaultPoints) return 0;
  return faultCalls[point].load(std::memory_order_relaxed);
}

long PakLiveLocalBlocks() { return liveLocalBlocks.load(std::memory_order_relaxed); }

void PakLimitLocalAlloc(std::size_t bytes) { localAllocLimit.store(bytes, std::memory_order_relaxed); }

HLOCAL LocalAlloc(UINT /*flags*/, SIZE_T bytes) {
  if (FailsNow(PakFaultLocalAlloc)) return nullptr;
  const std::size_t limit = localAllocLimit.load(std::memory_order_relaxed);
  if (limit != 0 && bytes > limit) return nullptr;
  // Every block is fixed and zero-filled, which is all the modules ask for.
  if (bytes > SIZE_MAX - kLocalHeader) return nullptr;
  auto* raw = static_cast<unsigned char*>(std::calloc(1, kLocalHeader + bytes));
  if (raw == nullptr) return nullptr;
  std::memcpy(raw, &bytes, sizeof bytes);
  AdviseHugePages(raw + kLocalHeader, bytes);
  liveLocalBlocks.fetch_add(1, std::memory_order_relaxed);
  return raw + kLocalHeader;
}

HLOCAL LocalFree(HLOCAL block) {
  if (block != nullptr) {
    std::free(static_cast<unsigned char*>(block) - kLocalHeader);
    liveLocalBlocks.fetch_sub(1, std::memory_order_relaxed);
  }
  return nullptr;
}

SIZE_T LocalSize(HLOCAL block) {
  if (block == nullptr) return 0;
  SIZE_T bytes;
  std::memcpy(&bytes, static_cast<unsigned char*>(block) - kLocalHeader, sizeof bytes);
  return bytes;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD /*shareMode*/,
                   LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition,
                   DWORD /*attributes*/, HANDLE /*templateFile*/) {
  if (FailsNow(PakFaultCreateFile)) return INVALID_HANDLE_VALUE;
  if (name == nullptr || *name == '\0') return INVALID_HANDLE_VALUE;
  int flags = O_CLOEXEC;
  const bool reads = (access & GENERIC_READ) != 0;
  const bool writes = (access & GENERIC_WRITE) != 0;
  flags |= (reads && writes) ? O_RDWR : (writes ? O_WRONLY : O_RDONLY);
  if (disposition == CREATE_ALWAYS) {
    flags |= O_CREAT | O_TRUNC;
  } else if (disposition != OPEN_EXISTING) {
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = PosixPath(name);
  // Opening a folder for reading succeeds on POSIX but not on Windows.
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return INVALID_HANDLE_VALUE;
  const int descriptor = open(path.c_str(), flags, 0666);
  if (descriptor < 0) return INVALID_HANDLE_VALUE;
  return HandleOf(descriptor);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  struct stat info;
  if (IsBadHandle(file) || fstat(DescriptorOf(file), &info) != 0) return INVALID_FILE_SIZE;
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
  if (IsBadHandle(file)) return INVALID_SET_FILE_POINTER;
  std::int64_t move = distance;
  if (distanceHigh != nullptr) {
    move = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
        static_cast<DWORD>(distance));
  }
  const int whence = moveMethod == FILE_BEGIN ? SEEK_SET : moveMethod == FILE_END ? SEEK_END : SEEK_CUR;
  const off_t position = lseek(DescriptorOf(file), static_cast<off_t>(move), whence);
  if (position < 0) return INVALID_SET_FILE_POINTER;
  if (distanceHigh != nullptr) {
    *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
  }
  return static_cast<DWORD>(position);
}

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES /*security*/, DWORD /*protect*/,
                          DWORD /*sizeHigh*/, DWORD /*sizeLow*/, LPCSTR /*name*/) {
  if (FailsNow(PakFaultCreateFileMapping)) return nullptr;
  // A mapping of the whole file; a mapping handle is a descriptor of its own,
  // so it outlives the file handle as on Windows.
  struct stat info;
  if (IsBadHandle(file) || fstat(DescriptorOf(file), &info) != 0) return nullptr;
  if (!S_ISREG(info.st_mode) || info.st_size == 0) return nullptr;
  const int flags = fcntl(DescriptorOf(file), F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_WRONLY) return nullptr;
  const int descriptor = fcntl(DescriptorOf(file), F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) return nullptr;
  return HandleOf(descriptor);
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD /*access*/, DWORD /*offsetHigh*/,
                     DWORD /*offsetLow*/, SIZE_T /*bytes*/) {
  if (FailsNow(PakFaultMapView)) return nullptr;
  // The view is preceded by one private page that records the length of the
  // whole reservation, so that UnmapViewOfFile needs nothing but the address.
  struct stat info;
  if (mapping == nullptr || IsBadHandle(mapping) || fstat(DescriptorOf(mapping), &info) != 0 ||
      info.st_size <= 0) {
    return nullptr;
  }
  const auto fileBytes = static_cast<std::size_t>(info.st_size);
  const auto page = static_cast<std::size_t>(PageSize());
  if (fileBytes > SIZE_MAX - 2 * page) return nullptr;
  const std::size_t total = page + fileBytes;
  void* reservation = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (reservation == MAP_FAILED) return nullptr;
  auto* base = static_cast<unsigned char*>(reservation);
  void* view = mmap(base + page, fileBytes, PROT_READ, MAP_SHARED | MAP_FIXED, DescriptorOf(mapping), 0);
  if (view == MAP_FAILED) {
    munmap(reservation, total);
    return nullptr;
  }
  std::memcpy(base, &total, sizeof total);
  mprotect(base, page, PROT_READ);
  return view;
}

BOOL UnmapViewOfFile(LPCVOID view) {
  if (view == nullptr) return FALSE;
  auto* base = const_cast<unsigned char*>(static_cast<const unsigned char*>(view)) - PageSize();
  std::size_t total;
  std::memcpy(&total, base, sizeof total);
  return munmap(base, total) == 0 ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE object) {
  if (object == nullptr || IsBadHandle(object)) return FALSE;
  return close(DescriptorOf(object)) == 0 ? TRUE : FALSE;
}

BOOL DeleteFileA(LPCSTR name) {
  if (name == nullptr) return FALSE;
  return unlink(PosixPath(name).c_str()) == 0 ? TRUE : FALSE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED /*overlapped*/) {
  if (FailsNow(PakFaultWriteFile)) {
    if (written != nullptr) *written = 0;
    return FALSE;
  }
  DWORD done = 0;
  const auto* data = static_cast<const unsigned char*>(buffer);
  while (done < bytes) {
    const ssize_t n = write(DescriptorOf(file), data + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written != nullptr) *written = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = done;
  return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED /*overlapped*/) {
  if (FailsNow(PakFaultReadFile)) {
    if (read != nullptr) *read = 0;
    return FALSE;
  }
  DWORD done = 0;
  auto* data = static_cast<unsigned char*>(buffer);
  while (done < bytes) {
    const ssize_t n = ::read(DescriptorOf(file), data + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (read != nullptr) *read = done;
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (read != nullptr) *read = done;
  return TRUE;
}

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found) {
  if (pattern == nullptr || found == nullptr) return INVALID_HANDLE_VALUE;
  const std::string path = PosixPath(pattern);
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string wildcard = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) return INVALID_HANDLE_VALUE;
  while (const dirent* item = readdir(directory)) {
    const std::size_t length = std::strlen(item->d_name);
    if (length >= sizeof found->cFileName || !WildcardMatch(wildcard.c_str(), item->d_name)) continue;
    std::memset(found, 0, sizeof *found);
    std::memcpy(found->cFileName, item->d_name, length + 1);
    // The search handle is the open folder; FindClose closes it.
    return reinterpret_cast<HANDLE>(directory);
  }
  closedir(directory);
  return INVALID_HANDLE_VALUE;
}

BOOL FindClose(HANDLE search) {
  if (search == nullptr || search == INVALID_HANDLE_VALUE) return FALSE;
  return closedir(reinterpret_cast<DIR*>(search)) == 0 ? TRUE : FALSE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime) {
  // Windows refuses values with the top bit set (beyond year 30827).
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  if (ticks >= 0x8000000000000000ull) return FALSE;
  constexpr std::uint64_t kTicksPerSecond = 10'000'000;
  const std::uint64_t seconds = ticks / kTicksPerSecond;
  const auto milliseconds = static_cast<WORD>((ticks % kTicksPerSecond) / 10'000);
  std::int64_t days = static_cast<std::int64_t>(seconds / 86400);
  const auto secondOfDay = static_cast<std::uint32_t>(seconds % 86400);
  // 1601-01-01 was a Monday.
  const auto dayOfWeek = static_cast<WORD>((days + 1) % 7);
  // Civil date from days since 1601-01-01 (the proleptic Gregorian calendar,
  // 400-year eras starting on 1601-01-01, which begins an era like 2001).
  const std::int64_t era = days / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  std::int64_t year = 1601 + era * 400 + yearOfEra;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  static constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  while (true) {
    const int length = kMonthDays[month] + (month == 1 && leap ? 1 : 0);
    if (dayOfYear < length) break;
    dayOfYear -= length;
    ++month;
  }
  systemTime->wYear = static_cast<WORD>(year);
  systemTime->wMonth = static_cast<WORD>(month + 1);
  systemTime->wDayOfWeek = dayOfWeek;
  systemTime->wDay = static_cast<WORD>(dayOfYear + 1);
  systemTime->wHour = static_cast<WORD>(secondOfDay / 3600);
  systemTime->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  systemTime->wSecond = static_cast<WORD>(secondOfDay % 60);
  systemTime->wMilliseconds = milliseconds;
  return TRUE;
}

BOOL IsDBCSLeadByte(BYTE byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC) ? TRUE : FALSE;
}

}  // extern "C"
