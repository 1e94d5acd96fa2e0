// The settings file (JsonDefaults) with many libraries, in a temporary folder
// on the disk that holds $TMPDIR (default /tmp), each change flushed to disk:
//
//   BM_PruneHalfOfTheLibraries/N/J: one pruning pass over N libraries, half
//     of them switched off with no folder recorded (so the pass forgets
//     them), half switched on; the file is written afresh before each pass,
//     dated a minute back (J = 0: the usual case, the file was last changed
//     a while ago) or not (J = 1: just written, so every read within two
//     seconds of its modification time reads it again).
//   BM_OneKeyChange/N: switching one library on and off again with N
//     libraries (three keys each) stored; one change per iteration.
//   BM_PruneWithoutFolderRecords/N: one pass over N switched-off libraries
//     without folder records (all forgotten), beside 1,000 published
//     documents of other libraries in the iCloud folder, which the pass
//     lists and reads once.
//   BM_PassWithDocuments/K: one pass over 1,000 switched-on libraries, each
//     with its published document (36 items) in the iCloud folder, and K
//     switched-off libraries whose folders exist (K = 1: the pass lists and
//     reads the 1,000 documents to finish switch-offs left half done; K = 0:
//     it reads none). The difference is the listing's cost.
//
//   settings_bench [--benchmark_repetitions=N ...]

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>  // mkdtemp on macOS

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "libraries/LibraryContext.h"
#include "libraries/LibraryKeys.h"
#include "libraries/Pruning.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Log.h"
#include "platform/posix/JsonDefaults.h"
#include "platform/posix/SystemClock.h"
#include "publish/ContainerPaths.h"

namespace {

namespace fs = std::filesystem;
using namespace quillory;

class NullLog final : public platform::Log {
 public:
  void line(const std::string&) override {}
};

// A fresh folder below $TMPDIR, removed with the object.
struct Scratch {
  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillory-bench.XXXXXX";
    path = ::mkdtemp(pattern.data());
  }
  ~Scratch() { fs::remove_all(path); }
  fs::path path;
};

// The settings of `count` libraries: every odd one switched on with both
// records, every even one switched off with only its file name recorded.
std::string settingsText(int count) {
  std::string text = "{\"autoSyncEnabled\": true";
  for (int i = 0; i < count; ++i) {
    const std::string name = "Library " + std::to_string(i) + " EUR";
    const bool on = i % 2 == 1;
    text += ",\n\"" + libraries::syncLibraryKey(name) + "\": " + (on ? "true" : "false");
    text +=
        ",\n\"" + libraries::libraryFilenameKey(name) + "\": \"library-" + std::to_string(i) + "-eur.json\"";
    if (on) text += ",\n\"" + libraries::libraryPathKey(name) + "\": \"/home/u/Ledgers/" + name + "\"";
  }
  return text + "}\n";
}

void BM_PruneHalfOfTheLibraries(benchmark::State& state) {
  const Scratch scratch;
  const fs::path file = scratch.path / ".config/quillory-helper/settings.json";
  fs::create_directories(file.parent_path());
  const std::string text = settingsText(static_cast<int>(state.range(0)));
  NullLog log;
  platform::posix::SystemClock clock;
  for (auto _ : state) {
    state.PauseTiming();
    if (platform::files::atomicWrite(file, text)) state.SkipWithError("cannot write the settings file");
    if (state.range(1) == 0) {
      const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 60, 0}};
      ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    }
    platform::posix::JsonDefaults defaults(file, log, clock);
    state.ResumeTiming();
    const bool pruned = libraries::pruneLibraries(libraries::LibraryContext{defaults, log, scratch.path});
    if (!pruned) state.SkipWithError("nothing pruned");
  }
}
BENCHMARK(BM_PruneHalfOfTheLibraries)
    ->Args({3000, 0})
    ->Args({20000, 0})
    ->Args({3000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_OneKeyChange(benchmark::State& state) {
  const Scratch scratch;
  const fs::path file = scratch.path / "settings.json";
  if (platform::files::atomicWrite(file, settingsText(static_cast<int>(state.range(0))))) {
    state.SkipWithError("cannot write the settings file");
  }
  NullLog log;
  platform::posix::SystemClock clock;
  platform::posix::JsonDefaults defaults(file, log, clock);
  const std::string key = libraries::syncLibraryKey("Library 0 EUR");
  bool on = false;
  for (auto _ : state) {
    on = !on;
    if (!defaults.setBool(key, on)) state.SkipWithError("not stored");
  }
}
BENCHMARK(BM_OneKeyChange)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// `count` published documents of switched-on libraries "On <i>" in the
// iCloud folder under `home`, 36 items each, as an export writes them; adds
// their keys to `settings` (a JSON object's members, without braces).
void publishDocuments(const fs::path& home, int count, std::string& settings) {
  const fs::path folder = publish::containerDocumentsFolder(home);
  fs::create_directories(folder);
  std::string items;
  for (int i = 0; i < 36; ++i) {
    items += std::string(i ? "," : "") + R"({"id":")" + std::to_string(i) +
             R"(","title":"Receipt with a longer title","amounts":{"currency":"EUR","total":"12.50"},)"
             R"("date":"2026-12-05T11:32:21Z","assets":[{"path":"\/home\/u\/Ledgers\/x\/a.jpg"}]})";
  }
  for (int i = 0; i < count; ++i) {
    const std::string name = "On " + std::to_string(i);
    std::ofstream(folder / ("on-" + std::to_string(i) + ".json"))
        << R"({"libraryName":")" << name << R"(","libraryPath":"/home/u/Ledgers/)" << name << R"(","items":[)"
        << items << "]}";
    std::ofstream(folder / ("on-" + std::to_string(i) + "_updated.txt")) << "2026-12-05T11:32:21Z";
    settings += ",\n\"" + libraries::syncLibraryKey(name) + "\": true";
  }
}

void BM_PruneWithoutFolderRecords(benchmark::State& state) {
  const Scratch scratch;
  const fs::path file = scratch.path / "settings.json";
  std::string settings = "\"autoSyncEnabled\": true";
  publishDocuments(scratch.path, 1000, settings);
  for (int i = 0; i < state.range(0); ++i) {
    settings += ",\n\"" + libraries::syncLibraryKey("Off " + std::to_string(i)) + "\": false";
  }
  NullLog log;
  platform::posix::SystemClock clock;
  for (auto _ : state) {
    state.PauseTiming();
    if (platform::files::atomicWrite(file, "{" + settings + "}\n"))
      state.SkipWithError("cannot write settings");
    platform::posix::JsonDefaults defaults(file, log, clock);
    state.ResumeTiming();
    if (!libraries::pruneLibraries(libraries::LibraryContext{defaults, log, scratch.path})) {
      state.SkipWithError("nothing pruned");
    }
  }
}
BENCHMARK(BM_PruneWithoutFolderRecords)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PassWithDocuments(benchmark::State& state) {
  const Scratch scratch;
  const fs::path file = scratch.path / "settings.json";
  std::string settings = "\"autoSyncEnabled\": true";
  publishDocuments(scratch.path, 1000, settings);
  for (int i = 0; i < state.range(0); ++i) {
    const std::string name = "Off " + std::to_string(i);
    settings += ",\n\"" + libraries::syncLibraryKey(name) + "\": false,\n\"" +
                libraries::libraryPathKey(name) + "\": \"" + scratch.path.string() + "\"";
  }
  if (platform::files::atomicWrite(file, "{" + settings + "}\n"))
    state.SkipWithError("cannot write settings");
  NullLog log;
  platform::posix::SystemClock clock;
  platform::posix::JsonDefaults defaults(file, log, clock);
  for (auto _ : state) {
    if (libraries::pruneLibraries(libraries::LibraryContext{defaults, log, scratch.path})) {
      state.SkipWithError("something pruned");
    }
  }
}
BENCHMARK(BM_PassWithDocuments)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
