// Plug-in support and the platform layer. The platform cases run against
// the stand-in natively and against kernel32 under Wine: both must agree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host.h"
#include "input.h"
#include "platform.h"
#include "plugin_info.h"
#include "progress.h"
#include "result.h"


namespace {

constexpr PluginInfoTable kTable = {{"00AM", "KOGADO PAK archive extract library Ver 4.04 by QIRNE", "*.PAK",
                                     "KOGADO PAK file"}};

struct InfoCase {
  std::int32_t infoNo;
  std::int32_t bufferLength;
  std::int32_t expectedCount;
  const char* expectedText;  // null: buffer untouched
};

TEST(PluginInfo, CopiesCutsAndRefuses) {
  const InfoCase cases[] = {
      {0, 5, 4, "00AM"},
      {0, 3, 2, "00"},
      {0, 1, 0, nullptr},
      {0, 0, 0, nullptr},
      {0, -5, 0, nullptr},
      {0, INT32_MIN, 0, nullptr},
      {1, 10, 9, "KOGADO PA"},
      {1, 64, 52, "KOGADO PAK archive extract library Ver 4.04 by QIRNE"},
      {2, 100, 5, "*.PAK"},
      {3, 100, 15, "KOGADO PAK file"},
      {4, 100, 0, nullptr},
      {-1, 100, 0, nullptr},
  };
  for (const InfoCase& c : cases) {
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    const std::int32_t bufferLength = c.bufferLength;
    EXPECT_EQ(CopyPluginInfo(kTable, c.infoNo, buffer, bufferLength), c.expectedCount)
        << "infoNo " << c.infoNo << " length " << c.bufferLength;
    if (c.expectedText == nullptr) {
      EXPECT_EQ(buffer[0], 'x') << "infoNo " << c.infoNo << " length " << c.bufferLength;
    } else {
      EXPECT_STREQ(buffer, c.expectedText);
      EXPECT_EQ(buffer[std::strlen(c.expectedText) + 1], 'x') << "wrote past the NUL";
    }
  }
}

struct Recorded {
  int calls = 0;
  std::int32_t done = 0, total = 0, userData = 0;
  std::int32_t answer = 0;
};
Recorded recorded;

std::int32_t SPI_CALL RecordingCallback(std::int32_t done, std::int32_t total, std::int32_t userData) {
  ++recorded.calls;
  recorded.done = done;
  recorded.total = total;
  recorded.userData = userData;
  return recorded.answer;
}

TEST(Report, NullCallbackOnlyStoresTotal) {
  ProgressReporter reporter;
  Report(reporter, 3, 17);
  EXPECT_EQ(reporter.total, 17);
}

TEST(Report, PassesValuesAndAbortsOnNonzero) {
  recorded = {};
  ProgressReporter reporter{0, RecordingCallback, 0x1234};
  Report(reporter, 4, 8);
  EXPECT_EQ(recorded.calls, 1);
  EXPECT_EQ(recorded.done, 4);
  EXPECT_EQ(recorded.total, 8);
  EXPECT_EQ(recorded.userData, 0x1234);
  recorded.answer = 1;
  try {
    Report(reporter, 5, 8);
    FAIL() << "no exception";
  } catch (const ESpiError& error) {
    EXPECT_EQ(error.code, Aborted);
  }
}

TEST(OpenInput, InputKinds) {
  const std::uint8_t bytes[4] = {1, 2, 3, 4};
  for (std::uint32_t flag : {2u, 3u, 7u, 0x102u}) {
    OpenedInput input;
    EXPECT_EQ(OpenInput(reinterpret_cast<const char*>(bytes), 4, flag, input), NotImplemented) << flag;
  }
  OpenedInput memory;
  ASSERT_EQ(OpenInput(reinterpret_cast<const char*>(bytes), 4, 0x181, memory), Success);
  EXPECT_EQ(memory.source.base, bytes);
  EXPECT_EQ(memory.source.size, 4u);
  EXPECT_EQ(memory.source.argument, 0);
  OpenedInput negative;
  ASSERT_EQ(OpenInput(reinterpret_cast<const char*>(bytes), -3, 1, negative), Success);
  EXPECT_EQ(negative.source.size, 0u);
}

TEST(OpenInput, FileInputMapsWholeFileAndReleasesOnEveryPath) {
  const std::string folder = TestFolder("OpenInput");
  const std::string full = HostPath(folder, "full.bin");
  const std::string empty = HostPath(folder, "empty.bin");
  WriteFileBytes(full, {9, 8, 7, 6, 5});
  WriteFileBytes(empty, {});
  const int before = OpenHandleCount();
  {
    OpenedInput input;
    ASSERT_EQ(OpenInput(full.c_str(), 3, 0x100, input), Success);  // output bits do not matter
    EXPECT_EQ(input.source.size, 5u);
    EXPECT_EQ(input.source.argument, 3);
    EXPECT_EQ(input.source.base[4], 5);
  }
  {
    OpenedInput input;
    EXPECT_EQ(OpenInput(empty.c_str(), 0, 0, input), FileError);
  }
  {
    OpenedInput input;
    EXPECT_EQ(OpenInput(HostPath(folder, "missing.bin").c_str(), 0, 0, input), FileError);
  }
  {
    OpenedInput input;
    EXPECT_EQ(OpenInput(HostPath(folder, "").c_str(), 0, 0, input), FileError);  // a folder
  }
  EXPECT_EQ(OpenHandleCount(), before);
}

TEST(AvailableFrom, ArgumentOutsideTheInputLeavesNothing) {
  const std::uint8_t bytes[10] = {};
  EXPECT_EQ(AvailableFrom({bytes, 10, 0}), 10u);
  EXPECT_EQ(AvailableFrom({bytes, 10, 4}), 6u);
  EXPECT_EQ(AvailableFrom({bytes, 10, 10}), 0u);
  EXPECT_EQ(AvailableFrom({bytes, 10, 11}), 0u);
  EXPECT_EQ(AvailableFrom({bytes, 10, -1}), 0u);
}

// Platform semantics the modules rely on.

TEST(Platform, LocalAllocIsFixedZeroFilledAndSized) {
  for (SIZE_T bytes : {SIZE_T{0}, SIZE_T{1}, SIZE_T{4097}}) {
    HLOCAL block = LocalAlloc(LPTR, bytes);
    ASSERT_NE(block, nullptr) << bytes;
    EXPECT_EQ(LocalSize(block), bytes);
    const auto* p = static_cast<const unsigned char*>(block);
    for (SIZE_T i = 0; i < bytes; ++i) ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ(LocalFree(block), nullptr);
  }
}

struct TimeCase {
  std::uint64_t ticks;
  bool ok;
  WORD year, month, day, hour, minute, second, milliseconds, dayOfWeek;
};

TEST(Platform, FileTimeToSystemTime) {
  const TimeCase cases[] = {
      {0, true, 1601, 1, 1, 0, 0, 0, 0, 1},
      {116444736000000000ull, true, 1970, 1, 1, 0, 0, 0, 0, 4},
      {126444672000000000ull, true, 2001, 9, 9, 0, 0, 0, 0, 0},
      {126445105234560000ull, true, 2001, 9, 9, 12, 2, 3, 456, 0},
      {125911584000000000ull, true, 2000, 1, 1, 0, 0, 0, 0, 6},
      {125962560000000000ull, true, 2000, 2, 29, 0, 0, 0, 0, 2},
      {0x7FFFFFFFFFFFFFFFull, true, 30828, 9, 14, 2, 48, 5, 477, 4},
      {0x8000000000000000ull, false, 0, 0, 0, 0, 0, 0, 0, 0},
      {0xFFFFFFFFFFFFFFFFull, false, 0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const TimeCase& c : cases) {
    FILETIME fileTime{static_cast<DWORD>(c.ticks), static_cast<DWORD>(c.ticks >> 32)};
    SYSTEMTIME fields{};
    const bool ok = FileTimeToSystemTime(&fileTime, &fields) != 0;
    ASSERT_EQ(ok, c.ok) << c.ticks;
    if (!ok) continue;
    EXPECT_EQ(fields.wYear, c.year) << c.ticks;
    EXPECT_EQ(fields.wMonth, c.month) << c.ticks;
    EXPECT_EQ(fields.wDay, c.day) << c.ticks;
    EXPECT_EQ(fields.wHour, c.hour) << c.ticks;
    EXPECT_EQ(fields.wMinute, c.minute) << c.ticks;
    EXPECT_EQ(fields.wSecond, c.second) << c.ticks;
    EXPECT_EQ(fields.wMilliseconds, c.milliseconds) << c.ticks;
    EXPECT_EQ(fields.wDayOfWeek, c.dayOfWeek) << c.ticks;
  }
}

TEST(Platform, EmptyFileCannotBeMappedAndBackslashSeparatesFolders) {
  const std::string folder = TestFolder("Platform");
  WriteFileBytes(HostPath(folder, "empty.bin"), {});
  WriteFileBytes(HostPath(folder, "data.bin"), {1, 2, 3});
  std::string backslashed = HostPath(folder, "data.bin");
  for (char& c : backslashed) {
    if (c == '/') c = '\\';
  }
  HANDLE file = CreateFileA(backslashed.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(file, nullptr), 3u);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  CloseHandle(mapping);
  CloseHandle(file);
  EXPECT_EQ(static_cast<const std::uint8_t*>(view)[2], 3);  // the view outlives its handles
  EXPECT_NE(UnmapViewOfFile(view), 0);

  HANDLE empty = CreateFileA(HostPath(folder, "empty.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(empty, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileMappingA(empty, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  CloseHandle(empty);
}

TEST(Platform, FindFirstFileIgnoresCase) {
  const std::string folder = TestFolder("FindFirst");
  WriteFileBytes(HostPath(folder, "COLORS.ACT"), {1});
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(HostPath(folder, "*.act").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(found.cFileName, "COLORS.ACT");
  FindClose(search);
  EXPECT_EQ(FindFirstFileA(HostPath(folder, "*.wbm").c_str(), &found), INVALID_HANDLE_VALUE);
}

TEST(Platform, Cp932LeadBytes) {
  for (int byte = 0; byte < 256; ++byte) {
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    EXPECT_EQ(IsDBCSLeadByte(static_cast<BYTE>(byte)) != 0, lead) << byte;
  }
}

}  // namespace
