// Stand-in for the few kernel32 names the modules use, for builds outside
// Windows. Semantics follow Windows, not POSIX:
//  - a file HANDLE is the POSIX descriptor itself (cast), so a host's own
//    open descriptor works as IsSupported's handle;
//  - backslash separates folders in every path given here;
//  - an empty file cannot be mapped; a view stays valid after its mapping
//    and file handles are closed, until UnmapViewOfFile;
//  - LocalAlloc(LPTR, n) gives a fixed, zero-filled block whose handle is its
//    address, also for n = 0; LocalSize gives n back;
//  - FindFirstFileA matches wildcards ignoring letter case;
//  - IsDBCSLeadByte answers for code page 932.
// Only the names the modules use are provided.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define PAK_HOST_API __attribute__((visibility("default")))
#else
#define PAK_HOST_API
#endif

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using SIZE_T = std::size_t;
using HANDLE = void*;
using HLOCAL = void*;
using HINSTANCE = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;
using PLONG = LONG*;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFF))
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(0xFFFFFFFF))

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x00000001u;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD FILE_MAP_READ = 0x0004;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

extern "C" {

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// Exported by each native module, for hosts: they release and measure the
// blocks they receive through these, as a Windows host does through kernel32.
PAK_HOST_API HLOCAL LocalFree(HLOCAL block);
PAK_HOST_API SIZE_T LocalSize(HLOCAL block);

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD attributes, HANDLE templateFile);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh,
                     DWORD moveMethod);
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES security,
                          DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                          LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh,
                     DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID view);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileA(LPCSTR name);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written,
               LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read,
              LPOVERLAPPED overlapped);
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found);
BOOL FindClose(HANDLE search);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
BOOL IsDBCSLeadByte(BYTE byte);

}  // extern "C"
