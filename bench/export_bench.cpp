// The archive module through its exports, loaded as a host loads it:
// GetArchiveInfo of a 100,000-entry archive, and GetFile to memory of a
// stored ("None") entry of 16 MiB beside a memcpy of the same size. Every
// benchmark checks its result once before it times anything.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host.h"
#include "pak_builder.h"
#include "spi.h"

namespace {

using GetArchiveInfoFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, std::uint32_t, HostBlock*);
using GetFileFn = std::int32_t(SPI_CALL*)(const char*, std::int32_t, char*, std::uint32_t, ProgressCallback,
                                          std::int32_t);

constexpr std::int32_t kEntries = 100000;
constexpr std::size_t kStoredBytes = 16 << 20;
constexpr std::uint32_t kToMemory = 0x100;
constexpr std::size_t kInfoRecordBytes = 428;  // one FileInfoRecord per entry

struct Fixture {
  Fixture() : module(PAKREAD_MODULE) {
    getArchiveInfo = module.Get<GetArchiveInfoFn>("GetArchiveInfo");
    getFile = module.Get<GetFileFn>("GetFile");
    const std::string folder = TestFolder("export_bench");
    PakBuilder many(2);
    for (std::int32_t i = 0; i < kEntries; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "E%06d", static_cast<int>(i));
      many.Add({.name = name, .extension = "BIN", .data = {static_cast<std::uint8_t>(i)}});
    }
    manyPath = HostPath(folder, "many.pak");
    WriteFileBytes(manyPath, many.Build());
    stored.resize(kStoredBytes);
    for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<std::uint8_t>(i * 131 >> 3);
    PakBuilder one(2);
    one.Add({.name = "BIG", .extension = "DAT", .data = stored, .method = 0});
    storedPosition = static_cast<std::int32_t>(one.PositionOf(0));
    storedPath = HostPath(folder, "stored.pak");
    WriteFileBytes(storedPath, one.Build());
  }
  Module module;
  GetArchiveInfoFn getArchiveInfo = nullptr;
  GetFileFn getFile = nullptr;
  std::string manyPath;
  std::string storedPath;
  std::int32_t storedPosition = 0;
  std::vector<std::uint8_t> stored;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_GetArchiveInfo100k(benchmark::State& state) {
  Fixture& f = Shared();
  HostBlock list = nullptr;
  if (f.getArchiveInfo == nullptr || f.getArchiveInfo(f.manyPath.c_str(), 0, 0, &list) != 0 ||
      f.module.Size(list) < kEntries * kInfoRecordBytes) {
    state.SkipWithError("listing failed");
    return;
  }
  f.module.Free(list);
  for (auto _ : state) {
    f.getArchiveInfo(f.manyPath.c_str(), 0, 0, &list);
    f.module.Free(list);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kEntries);
}

void BM_GetFileStored16M(benchmark::State& state) {
  Fixture& f = Shared();
  HostBlock block = nullptr;
  if (f.getFile == nullptr ||
      f.getFile(f.storedPath.c_str(), f.storedPosition, reinterpret_cast<char*>(&block), kToMemory, nullptr, 0) != 0 ||
      f.module.Size(block) != kStoredBytes || std::memcmp(block, f.stored.data(), kStoredBytes) != 0) {
    state.SkipWithError("extraction failed");
    return;
  }
  f.module.Free(block);
  for (auto _ : state) {
    f.getFile(f.storedPath.c_str(), f.storedPosition, reinterpret_cast<char*>(&block), kToMemory, nullptr, 0);
    f.module.Free(block);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kStoredBytes));
}

// The floor for the one above: a fresh block of the same size, filled by
// memcpy from memory already mapped.
void BM_MemcpyStored16M(benchmark::State& state) {
  const std::vector<std::uint8_t>& source = Shared().stored;
  for (auto _ : state) {
    std::vector<std::uint8_t> copy(source.size());
    std::memcpy(copy.data(), source.data(), source.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kStoredBytes));
}

BENCHMARK(BM_GetArchiveInfo100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetFileStored16M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyStored16M)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
