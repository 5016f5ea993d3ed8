// pak extract, pak test and pak cat: entries decoded through the format
// core, written below a folder, checked, or sent to standard output.
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive.h"
#include "command.h"
#include "manifest.h"
#include "names.h"
#include "png_output.h"
#include "safe_output.h"
#include "text.h"
#include "wbm.h"

namespace {

// Frees a LocalAlloc block when it goes out of scope.
struct BlockDeleter {
  void operator()(void* block) const { LocalFree(block); }
};
using Block = std::unique_ptr<void, BlockDeleter>;

std::span<const std::uint8_t> BytesOf(const Block& block) {
  if (!block) return {};
  return {static_cast<const std::uint8_t*>(block.get()), LocalSize(block.get())};
}

bool WriteAll(int descriptor, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

// Set by SIGINT and SIGTERM; polled by the workers and the decoders'
// progress callback, which then abort.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { g_stop.store(true); }

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the process at once
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Indices of the entries whose decoded name matches one of the patterns
// (fnmatch without escapes, so a backslash is a plain character; '*' also
// crosses separators) or whose raw name equals one; all when there are no
// patterns. A pattern that matches nothing is reported and sets missing.
std::vector<std::size_t> Select(const Archive& archive, const std::vector<std::string>& patterns, bool& missing) {
  std::vector<std::size_t> chosen;
  const auto& entries = archive.Entries();
  std::vector<bool> used(patterns.size(), false);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    bool take = patterns.empty();
    for (std::size_t p = 0; p < patterns.size(); ++p) {
      if (entries[i].name == patterns[p] || entries[i].rawName == patterns[p] ||
          fnmatch(patterns[p].c_str(), entries[i].name.c_str(), FNM_NOESCAPE) == 0) {
        used[p] = true;
        take = true;
      }
    }
    if (take) chosen.push_back(i);
  }
  for (std::size_t p = 0; p < patterns.size(); ++p) {
    if (!used[p]) {
      std::cerr << "pak: no entry matches " << patterns[p] << "\n";
      missing = true;
    }
  }
  return chosen;
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char wanted, char got) { return std::tolower(static_cast<unsigned char>(got)) == wanted; });
}

struct ExtractOptions {
  std::string archive;
  std::vector<std::string> patterns;
  std::string folder = ".";
  std::string encoding = "CP932";
  std::string manifest;
  std::string images;
  std::string palette;
  bool force = false;
  bool keep = false;
  bool noMtime = false;
  bool failFast = false;
  bool quiet = false;
  unsigned jobs = 0;
};

enum class EntryState { NotAttempted, Done, Skipped, Failed };

struct EntryPlan {
  std::size_t index = 0;
  SafePath path;
  EntryState state = EntryState::NotAttempted;
  std::optional<std::uint64_t> hash;
};

// What the workers share; every field is either set before they start or
// guarded (atomics, the message lock).
struct Run {
  const Archive* archive = nullptr;
  const ExtractOptions* options = nullptr;
  int root = -1;
  std::vector<EntryPlan>* plans = nullptr;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> entriesDone{0};
  std::atomic<std::uint64_t> bytesDone{0};
  std::unique_ptr<std::atomic<std::uint64_t>[]> partial;  // per worker: bytes of the entry in hand
  std::unique_ptr<std::atomic<std::uint64_t>[]> size;     // per worker: unpacked size of that entry
  std::atomic<bool> warnings{false};
  std::atomic<bool> failures{false};
  std::mutex lock;      // guards stderr lines and current
  std::string current;  // a name being decoded, for the progress line
  bool haveColors = false;
  RGBQUAD colors[kPaletteEntries]{};
};

Run* g_run = nullptr;  // the run whose workers the progress callback feeds

// The decoders report packed bytes consumed of the packed total; the share
// of the unpacked size is what the progress line adds up.
std::int32_t SPI_CALL OnProgress(std::int32_t done, std::int32_t total, std::int32_t worker) {
  if (g_run != nullptr && done > 0 && total > 0 && done <= total) {
    const auto slot = static_cast<std::size_t>(worker);
    const std::uint64_t size = g_run->size[slot].load();
    g_run->partial[slot].store(size * static_cast<std::uint64_t>(done) / static_cast<std::uint64_t>(total));
  }
  return g_stop.load() ? 1 : 0;
}

void Say(Run& run, const std::string& line) {
  const std::lock_guard guard(run.lock);
  std::cerr << "\r\x1b[K" << line << "\n";
}

// A PNG beside the extracted WBM entry: same folder, extension .png.
void ConvertImage(Run& run, const EntryPlan& plan, std::span<const std::uint8_t> bytes) {
  const std::string shown = plan.path.Joined();
  const InputSource input{bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0};
  WbmImage image;
  if (ReadWbmImage(input, image) != Success) {
    Say(run, "pak: " + shown + ": not a WBM image; no PNG written");
    run.warnings = true;
    return;
  }
  std::vector<std::uint8_t> png;
  std::string error;
  if (!EncodePng(image, run.colors, png, error)) {
    Say(run, "pak: " + shown + ": " + error);
    run.failures = true;
    return;
  }
  std::vector<std::string> components = plan.path.components;
  std::string& leaf = components.back();
  leaf = leaf.substr(0, leaf.size() - 4) + ".png";
  const Existing existing = run.options->force  ? Existing::Replace
                            : run.options->keep ? Existing::Keep
                                                : Existing::Refuse;
  switch (WriteBelow(run.root, components, png, existing, std::nullopt, g_stop, error)) {
    case WriteOutcome::Written:
      break;
    case WriteOutcome::Exists:
      if (existing == Existing::Refuse) {
        Say(run, "pak: skipped " + leaf + ": file exists (use -f to overwrite)");
        run.warnings = true;
      }
      break;
    case WriteOutcome::IsSymlink:
      Say(run, "pak: skipped " + leaf + ": a symbolic link stands there");
      run.warnings = true;
      break;
    case WriteOutcome::Interrupted:
      break;
    case WriteOutcome::Failed:
      Say(run, "pak: " + leaf + ": " + error);
      run.failures = true;
      break;
  }
}

void ExtractOne(Run& run, EntryPlan& plan, std::size_t worker) {
  const ArchiveEntry& entry = run.archive->Entries()[plan.index];
  const ExtractOptions& options = *run.options;
  const std::string shown = plan.path.Joined();
  const Existing existing = options.force ? Existing::Replace : options.keep ? Existing::Keep : Existing::Refuse;
  if (existing != Existing::Replace && PathExists(run.root, plan.path.components)) {
    plan.state = EntryState::Skipped;
    if (existing == Existing::Refuse) {
      Say(run, "pak: skipped " + shown + ": file exists (use -f to overwrite)");
      run.warnings = true;
    }
    return;
  }
  {
    const std::lock_guard guard(run.lock);
    run.current = shown;
  }
  HLOCAL raw = nullptr;
  run.partial[worker].store(0);
  run.size[worker].store(entry.record.unpackedSize);
  const ResultCode result = run.archive->Extract(entry, &raw, OnProgress, static_cast<std::int32_t>(worker));
  const Block block(raw);
  run.partial[worker].store(0);
  if (result == Aborted && g_stop.load()) return;  // not attempted
  if (result != Success) {
    plan.state = EntryState::Failed;
    Say(run, "pak: " + shown + ": " + ResultText(result) + " (" + std::to_string(result) + ")");
    run.failures = true;
    return;
  }
  std::optional<std::int64_t> mtime;
  if (!options.noMtime && run.archive->Directory().header.version == 3 && entry.record.timestamp != 0 &&
      entry.record.timestamp != -1) {
    mtime = entry.record.timestamp;
  }
  std::string error;
  switch (WriteBelow(run.root, plan.path.components, BytesOf(block), existing, mtime, g_stop, error)) {
    case WriteOutcome::Written:
      plan.state = EntryState::Done;
      if (!options.manifest.empty()) plan.hash = Fnv1a64(BytesOf(block));
      run.entriesDone += 1;
      run.bytesDone += entry.record.unpackedSize;
      if (run.haveColors && EndsWithNoCase(shown, ".wbm")) ConvertImage(run, plan, BytesOf(block));
      break;
    case WriteOutcome::Exists:
      plan.state = EntryState::Skipped;
      if (existing == Existing::Refuse) {
        Say(run, "pak: skipped " + shown + ": file exists (use -f to overwrite)");
        run.warnings = true;
      }
      break;
    case WriteOutcome::IsSymlink:
      plan.state = EntryState::Skipped;
      Say(run, "pak: skipped " + shown + ": a symbolic link stands there; it is never followed or replaced");
      run.warnings = true;
      break;
    case WriteOutcome::Interrupted:
      break;
    case WriteOutcome::Failed:
      plan.state = EntryState::Failed;
      Say(run, "pak: " + shown + ": " + error);
      run.failures = true;
      break;
  }
}

void Worker(Run& run, std::size_t worker) {
  while (!g_stop.load()) {
    const std::size_t n = run.next.fetch_add(1);
    if (n >= run.plans->size()) return;
    EntryPlan& plan = (*run.plans)[n];
    if (plan.state != EntryState::NotAttempted) continue;  // refused before the run
    ExtractOne(run, plan, worker);
    if (plan.state == EntryState::Failed && run.options->failFast) g_stop.store(true);
  }
}

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / 1048576.0);
  return text;
}

// Redraws one status line on stderr at most 10 times a second until done.
void ShowProgress(Run& run, std::size_t entryTotal, std::uint64_t byteTotal, const std::atomic<bool>& done,
                  unsigned workers) {
  const auto start = std::chrono::steady_clock::now();
  while (!done.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::uint64_t bytes = run.bytesDone.load();
    for (unsigned w = 0; w < workers; ++w) bytes += run.partial[w].load();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::lock_guard guard(run.lock);
    std::cerr << "\r\x1b[K" << run.entriesDone.load() << "/" << entryTotal << " entries, " << Megabytes(bytes) << " of "
              << Megabytes(byteTotal) << ", "
              << Megabytes(seconds > 0 ? static_cast<std::uint64_t>(bytes / seconds) : 0) << "/s  "
              << EscapeControls(run.current) << std::flush;
  }
  const std::lock_guard guard(run.lock);
  std::cerr << "\r\x1b[K" << std::flush;
}

// The colours for --images: --palette, else the archive's first ".act"
// entry, else the grey ramp (said on stderr).
bool LoadColors(const Archive& archive, const ExtractOptions& options, RGBQUAD (&colors)[kPaletteEntries]) {
  if (!options.palette.empty()) {
    std::ifstream in(options.palette, std::ios::binary);
    std::uint8_t table[kColorTableBytes];
    in.read(reinterpret_cast<char*>(table), sizeof table);
    if (!in || in.gcount() != static_cast<std::streamsize>(sizeof table)) {
      Fail(options.palette, "cannot read a 768-byte colour table", kExitData);
      return false;
    }
    FillColorsFromTable(table, colors);
    return true;
  }
  for (const ArchiveEntry& entry : archive.Entries()) {
    if (!EndsWithNoCase(entry.name, ".act")) continue;
    HLOCAL raw = nullptr;
    const ResultCode result = archive.Extract(entry, &raw);
    const Block block(raw);
    if (result == Success && BytesOf(block).size() >= kColorTableBytes) {
      std::uint8_t table[kColorTableBytes];
      std::memcpy(table, block.get(), sizeof table);
      FillColorsFromTable(table, colors);
      std::cerr << "pak: images: colours from the entry " << entry.name << "\n";
      return true;
    }
    std::cerr << "pak: images: the entry " << entry.name << " is no colour table\n";
    break;
  }
  std::cerr << "pak: images: no .act entry; used the grey ramp\n";
  FillGreyRamp(colors);
  return true;
}

bool WriteManifest(const std::string& path, const Archive& archive, const std::vector<EntryPlan>& plans,
                   std::string& error) {
  Manifest manifest;
  manifest.archiveBytes = archive.Bytes().size();
  manifest.archiveHash = Fnv1a64(archive.Bytes());
  manifest.version = archive.Directory().header.version;
  std::vector<const EntryPlan*> byIndex(archive.Entries().size(), nullptr);
  for (const EntryPlan& plan : plans) byIndex[plan.index] = &plan;
  for (std::size_t i = 0; i < archive.Entries().size(); ++i) {
    const ArchiveEntry& entry = archive.Entries()[i];
    ManifestEntry line;
    line.index = static_cast<std::uint32_t>(i);
    line.nameHex = HexOf(entry.rawName);
    line.method = entry.fields.method;
    line.auxFlag = entry.fields.auxFlag;
    line.auxValue = entry.fields.auxValue;
    line.fileTime = (std::uint64_t{entry.fields.fileTimeHigh} << 32) | entry.fields.fileTimeLow;
    line.unpackedSize = entry.fields.unpackedSize;
    if (byIndex[i] != nullptr && byIndex[i]->state == EntryState::Done) {
      line.hash = byIndex[i]->hash;
      line.path = byIndex[i]->path.Joined();
    }
    manifest.entries.push_back(std::move(line));
  }
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << FormatManifest(manifest);
    out.close();
    if (!out) {
      error = "cannot write " + temporary;
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

int RunExtract(const ExtractOptions& options) {
  if (options.force && options.keep) return Fail("extract", "-f and -k exclude each other", kExitUsage);
  Archive archive;
  if (const int status = archive.Open(options.archive, 0, options.encoding); status != kExitOk) return status;
  CatchInterrupts();
  Run run;
  run.archive = &archive;
  run.options = &options;
  bool missing = false;
  std::vector<EntryPlan> plans;
  std::set<std::string> taken;
  for (const std::size_t i : Select(archive, options.patterns, missing)) {
    EntryPlan plan;
    plan.index = i;
    plan.path = MakeSafePath(archive.Entries()[i].name);
    const std::string shown = EscapeControls(archive.Entries()[i].name);
    if (plan.path.refused != nullptr) {
      std::cerr << "pak: refused " << shown << ": " << plan.path.refused << "\n";
      plan.state = EntryState::Skipped;
      run.warnings = true;
    } else if (!taken.insert(plan.path.Joined()).second) {
      std::cerr << "pak: skipped " << shown << ": an earlier entry has the same path\n";
      plan.state = EntryState::Skipped;
      run.warnings = true;
    } else if (plan.path.escaped) {
      std::cerr << "pak: " << shown << ": written as " << plan.path.Joined() << "\n";
      run.warnings = true;
    }
    plans.push_back(std::move(plan));
  }
  if (missing) run.warnings = true;
  if (options.images == "png") {
    if (!LoadColors(archive, options, run.colors)) return kExitData;
    run.haveColors = true;
  }
  std::string error;
  run.root = OpenOutputFolder(options.folder, error);
  if (run.root < 0) return Fail(options.folder, error, kExitData);
  run.plans = &plans;

  unsigned workers = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  workers = static_cast<unsigned>(std::min<std::size_t>(workers, std::max<std::size_t>(plans.size(), 1)));
  run.partial = std::make_unique<std::atomic<std::uint64_t>[]>(workers);
  run.size = std::make_unique<std::atomic<std::uint64_t>[]>(workers);
  g_run = &run;
  std::atomic<bool> finished{false};
  std::thread progress;
  std::uint64_t byteTotal = 0;
  for (const EntryPlan& plan : plans) byteTotal += archive.Entries()[plan.index].record.unpackedSize;
  if (!options.quiet && isatty(STDERR_FILENO)) {
    progress = std::thread(ShowProgress, std::ref(run), plans.size(), byteTotal, std::cref(finished), workers);
  }
  {
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(Worker, std::ref(run), w);
    Worker(run, 0);
    for (std::thread& thread : threads) thread.join();
  }
  finished = true;
  if (progress.joinable()) progress.join();
  g_run = nullptr;
  close(run.root);

  if (!options.manifest.empty() && !WriteManifest(options.manifest, archive, plans, error)) {
    Fail(options.manifest, error, kExitData);
    run.failures = true;
  }
  if (g_stop.load() && !(options.failFast && run.failures)) {
    std::size_t done = 0, failed = 0, left = 0;
    for (const EntryPlan& plan : plans) {
      done += plan.state == EntryState::Done ? 1 : 0;
      failed += plan.state == EntryState::Failed ? 1 : 0;
      left += plan.state == EntryState::NotAttempted ? 1 : 0;
    }
    std::cerr << "pak: interrupted: " << done << " done, " << failed << " failed, " << left << " not attempted\n";
    return kExitInterrupted;
  }
  return run.failures ? kExitData : run.warnings ? kExitWarnings : kExitOk;
}

struct TestOptions {
  std::string archive;
  std::vector<std::string> patterns;
  std::string encoding = "CP932";
};

int RunTest(const TestOptions& options) {
  Archive archive;
  if (const int status = archive.Open(options.archive, 0, options.encoding); status != kExitOk) return status;
  bool missing = false;
  const std::vector<std::size_t> chosen = Select(archive, options.patterns, missing);
  std::size_t failed = 0;
  for (const std::size_t i : chosen) {
    const ArchiveEntry& entry = archive.Entries()[i];
    HLOCAL raw = nullptr;
    const ResultCode result = archive.Extract(entry, &raw);
    const Block block(raw);
    if (result != Success) {
      std::cout << EscapeControls(entry.name) << ": " << ResultText(result) << " (" << result << ")\n";
      ++failed;
    }
  }
  std::cout << chosen.size() - failed << " of " << chosen.size() << " entries OK\n";
  return failed != 0 ? kExitData : missing ? kExitWarnings : kExitOk;
}

int RunCat(const std::string& path, const std::string& name, const std::string& encoding) {
  Archive archive;
  if (const int status = archive.Open(path, 0, encoding); status != kExitOk) return status;
  const auto& entries = archive.Entries();
  const auto found = std::find_if(entries.begin(), entries.end(), [&](const ArchiveEntry& entry) {
    return entry.name == name || entry.rawName == name;
  });
  if (found == entries.end()) return Fail(path, "no entry named " + name, kExitData);
  HLOCAL raw = nullptr;
  const ResultCode result = archive.Extract(*found, &raw);
  const Block block(raw);
  if (result != Success) return Fail(path, name + ": " + ResultText(result), kExitData);
  if (!WriteAll(STDOUT_FILENO, BytesOf(block))) return Fail("stdout", std::strerror(errno), kExitData);
  return kExitOk;
}

}  // namespace

Command AddExtractCommand(CLI::App& app) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* parser =
      app.add_subcommand("extract", "Extract all entries, or those matching the patterns, into a folder");
  parser->alias("x");
  parser->add_option("ARCHIVE", options->archive, "PAK archive")->required();
  parser->add_option("PATTERN", options->patterns, "Glob patterns over the decoded names (or exact raw names)");
  parser->add_option("-o,--output", options->folder, "Output folder (created if missing)");
  auto* force = parser->add_flag("-f,--force", options->force, "Overwrite existing files");
  parser->add_flag("-k,--keep", options->keep, "Keep existing files silently")->excludes(force);
  parser->add_flag("--no-mtime", options->noMtime, "Do not set the entries' times on the files");
  parser->add_option("--manifest", options->manifest, "Write what pak repack needs to this file");
  parser->add_option("-j,--jobs", options->jobs, "Entries extracted in parallel (default: the number of cores)")
      ->check(CLI::Range(1u, 256u));
  parser->add_flag("--fail-fast", options->failFast, "Stop at the first entry that fails");
  parser->add_flag("-q,--quiet", options->quiet, "No progress line");
  parser->add_option("--images", options->images, "Also convert every WBM entry: png")->check(CLI::IsMember({"png"}));
  parser->add_option("--palette", options->palette, "Colour table for --images (default: the archive's first .act)");
  parser->add_option("--name-encoding", options->encoding, "Code page of the entry names (iconv name)");
  return {parser, [options] { return RunExtract(*options); }};
}

Command AddTestCommand(CLI::App& app) {
  auto options = std::make_shared<TestOptions>();
  CLI::App* parser = app.add_subcommand("test", "Decode every (matching) entry; one line per failing entry");
  parser->alias("t");
  parser->add_option("ARCHIVE", options->archive, "PAK archive")->required();
  parser->add_option("PATTERN", options->patterns, "Glob patterns over the decoded names");
  parser->add_option("--name-encoding", options->encoding, "Code page of the entry names (iconv name)");
  return {parser, [options] { return RunTest(*options); }};
}

Command AddCatCommand(CLI::App& app) {
  auto path = std::make_shared<std::string>();
  auto name = std::make_shared<std::string>();
  auto encoding = std::make_shared<std::string>("CP932");
  CLI::App* parser = app.add_subcommand("cat", "Write one entry to standard output");
  parser->add_option("ARCHIVE", *path, "PAK archive")->required();
  parser->add_option("NAME", *name, "Entry name")->required();
  parser->add_option("--name-encoding", *encoding, "Code page of the entry names (iconv name)");
  return {parser, [path, name, encoding] { return RunCat(*path, *name, *encoding); }};
}
