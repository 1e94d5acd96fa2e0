// How long the main thread stalls while a sync runs over a large
// Library/Containers tree and the user works the menu meanwhile.
//
//   menu_stall_bench [--entries N] [--rounds N] [--settings memory|file] [--home DIR]
//                    [--hold-lock MS]
//
// The helper's engine and menu logic (ExportManager, AppDelegate) run on the
// plain run-loop dispatcher, with the shared fakes for the host, the scripts,
// the alerts (answered at once) and the status item. The home folder holds
// N entries (default 250000) under Library/Containers, two of them app
// containers of the mobile app. Each round:
//   - "Sync Now" is chosen: the export scans the tree and writes its pairs;
//   - 20 ms later the user switches off another library from the Libraries
//     submenu ("Remove"), whose pairs are in both app containers, and a
//     check starts (its pruning pass forgets an orphaned library, deleting
//     its pair).
// The round ends when the sync, the switch-off and the check are done.
// Figures, per round and over all (the longest, the 99th percentile, the
// median):
//   - tick: a 2 ms timer on the main queue, how late each tick comes: the
//     main thread's stalls, whatever their cause;
//   - task: the longest task the main thread ran (the helper's own work);
//   - post: a task posted to the main queue every 2 ms from another thread,
//     how long it waited (this adds the posting thread's own scheduling);
//   - idle: the same posts to a second run loop that does nothing else (what
//     the machine alone makes a post wait).
// With --settings file the settings live in the JSON settings file store
// (durable writes) instead of memory. --home reuses (or builds once) a tree.
// With --hold-lock (and --settings file) another process holds the settings
// file's lock for MS ms from just before "Sync Now" in each round, the
// library's answer is forgotten first (so the first-sync question is asked
// and answered, "Sync"), and the user also switches Auto-sync off and on:
// the probes show whether the main thread waits for the lock.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeMenu.h"
#include "app/AppDelegate.h"
#include "bridge/HostScripts.h"
#include "engine/ExportManager.h"
#include "libraries/LibraryKeys.h"
#include "platform/Files.h"
#include "platform/posix/JsonDefaults.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "publish/ContainerPaths.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/FakeLoginItemService.h"
#include "support/FakeScriptRunner.h"
#include "support/FakeWorkspace.h"
#include "support/MemoryDefaults.h"
#include "support/ScriptedAlerts.h"

namespace {

namespace fs = std::filesystem;
namespace files = quillory::platform::files;
using namespace quillory;
using Clock = std::chrono::steady_clock;

constexpr const char* kExport =
    R"({"items":[{"id":"1","title":"Lunch","asset":{"path":"/nonexistent/Biz/assets/a.jpg"},)"
    R"("amounts":{"currency":"eur"}}]})";

// Builds `entries` entries under home/Library/Containers: containers of 500
// entries each (Data/Library/Caches/f...), the first two with the mobile
// app's preferences file. Skipped when the tree is there already.
void buildTree(const fs::path& home, std::size_t entries) {
  const fs::path root = home / publish::kContainersRelative;
  const fs::path done = home / (".tree-" + std::to_string(entries));
  if (files::exists(done)) return;
  std::size_t made = 0;
  for (std::size_t c = 0; made < entries; ++c) {
    const fs::path container = root / ("c" + std::to_string(c));
    const fs::path caches = container / "Data/Library/Caches";
    files::createFolders(caches);
    made += 4;  // cN, Data, Library, Caches
    if (c < 2) {
      const fs::path preferences = container / "Data/Library/Preferences";
      files::createFolders(preferences);
      files::atomicWrite(preferences / (std::string(publish::kMobileBundleID) + ".plist"), "plist");
      made += 2;
    }
    for (int f = 0; f < 496 && made < entries; ++f, ++made) {
      const std::string file = (caches / ("f" + std::to_string(f))).string();
      const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd >= 0) ::close(fd);
    }
  }
  files::atomicWrite(done, "");
}

struct Stats {
  std::mutex mutex;
  std::vector<double> waitsMs;
  void add(double ms) {
    std::lock_guard lock(mutex);
    waitsMs.push_back(ms);
  }
};

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1,
                         static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

struct Summary {
  double max, p99, median;
};

Summary summarize(const std::vector<double>& values) {
  return {percentile(values, 1.0), percentile(values, 0.99), percentile(values, 0.5)};
}

void report(const char* what, const std::vector<double>& ticks, double longestTask,
            const std::vector<double>& posts, const std::vector<double>& idle) {
  const Summary t = summarize(ticks), p = summarize(posts), i = summarize(idle);
  std::printf(
      "%-9s tick max %7.2f p99 %6.2f med %5.2f | task max %7.2f | post max %7.2f p99 %6.2f | idle max "
      "%6.2f p99 %6.2f  (ms)\n",
      what, t.max, t.p99, t.median, longestTask, p.max, p.p99, i.max, i.p99);
}

// The run loop, with every task it runs on the main thread timed: the
// longest one is the helper's own share of a stall (the rest of a probe's
// wait is the machine not running the main thread).
class TimedDispatcher final : public platform::Dispatcher {
 public:
  explicit TimedDispatcher(platform::posix::RunLoopDispatcher& loop) : loop_(loop) {}
  void async(Task task) override { loop_.async(timed(std::move(task))); }
  void sync(Task task) override { loop_.sync(timed(std::move(task))); }
  void global(platform::QualityOfService qos, Task task) override { loop_.global(qos, std::move(task)); }
  void repeatOnMain(std::chrono::milliseconds interval, Task tick) override {
    loop_.repeatOnMain(interval, timed(std::move(tick)));
  }
  bool isMainThread() const override { return loop_.isMainThread(); }
  void enterModal() override { loop_.enterModal(); }
  void exitModal() override { loop_.exitModal(); }
  int modalDepth() const override { return loop_.modalDepth(); }

  double takeLongestMs() { return longestMs_.exchange(0); }

 private:
  Task timed(Task task) {
    return [this, task = std::move(task)] {
      const auto start = Clock::now();
      task();
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      double longest = longestMs_.load();
      while (ms > longest && !longestMs_.compare_exchange_weak(longest, ms)) {
      }
    };
  }
  platform::posix::RunLoopDispatcher& loop_;
  std::atomic<double> longestMs_{0};
};

}  // namespace

int main(int argc, char** argv) {
  namespace testing = quillory::testing;  // not GoogleTest's, which the scripted alerts report failures to
  std::size_t entries = 250000;
  int rounds = 5;
  bool fileSettings = false;
  fs::path home;
  int holdLockMs = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--entries") entries = std::stoul(value);
    if (option == "--rounds") rounds = std::stoi(value);
    if (option == "--settings") fileSettings = value == "file";
    if (option == "--home") home = value;
    if (option == "--hold-lock") holdLockMs = std::stoi(value);
  }
  const bool ownHome = home.empty();
  if (ownHome) {
    std::string pattern = (fs::temp_directory_path() / "menu-stall-XXXXXX").string();
    home = ::mkdtemp(pattern.data());
  }
  const auto buildStart = Clock::now();
  buildTree(home, entries);
  std::printf("tree: %zu entries under %s (%.1f s)\n", entries, (home / publish::kContainersRelative).c_str(),
              std::chrono::duration<double>(Clock::now() - buildStart).count());

  platform::posix::RunLoopDispatcher loop;
  TimedDispatcher timedLoop(loop);  // what the helper's code is given
  testing::CapturingLog log;
  testing::FakeClock clock;
  testing::FakeWorkspace workspace;
  testing::ScriptedAlerts alerts{&timedLoop};  // every alert: its first button ("Remove")
  testing::FakeScriptRunner scripts;
  testing::FakeLoginItemService loginItems;
  testing::MemoryDefaults memory;
  std::unique_ptr<platform::posix::JsonDefaults> file;
  if (fileSettings) {
    fs::remove(home / "settings.json");
    file = std::make_unique<platform::posix::JsonDefaults>(home / "settings.json", log, clock);
  }
  platform::Defaults& defaults = fileSettings ? static_cast<platform::Defaults&>(*file) : memory;

  workspace.launch(engine::ExportManager::klBundleID);
  scripts.setAnswer(bridge::kLibraryNameScript, "Biz");
  scripts.setAnswer(bridge::kExportScript, kExport);
  defaults.setBool(libraries::syncLibraryKey("Biz"), true);

  auto manager = engine::ExportManager::create(
      engine::Environment{defaults, timedLoop, clock, log, workspace, alerts, scripts, home});
  testing::FakeStatusItem* statusItem = nullptr;
  app::Shell shell{.makeStatusItem =
                       [&statusItem] {
                         auto item = std::make_unique<testing::FakeStatusItem>();
                         statusItem = item.get();
                         return std::unique_ptr<platform::StatusItem>(std::move(item));
                       },
                   .dispatcher = timedLoop,
                   .alerts = alerts,
                   .loginItems = loginItems,
                   .log = log,
                   .clock = clock,
                   .dateText = {"en_US", "UTC"},
                   .version = {"1", "1"},
                   .becomeAccessory = nullptr,
                   .terminate = nullptr,
                   .notifier = nullptr,
                   .desktop = nullptr,
                   .logFile = std::nullopt};
  auto delegate = app::AppDelegate::create(std::move(shell), manager);
  delegate->applicationDidFinishLaunching();
  loop.runUntil([&] { return loop.settled(); }, std::chrono::seconds(60));
  // The start-up's own tasks are reported apart, so the rounds show only
  // what the user's actions cost.
  std::printf("start-up: longest main task %.2f ms\n", timedLoop.takeLongestMs());

  // The tick probe: how late each tick of a 2 ms main-queue timer comes.
  Stats* tickStats = nullptr;
  auto lastTick = Clock::now();
  loop.repeatOnMain(std::chrono::milliseconds(2), [&] {
    const auto now = Clock::now();
    if (tickStats) tickStats->add(std::chrono::duration<double, std::milli>(now - lastTick).count() - 2.0);
    lastTick = now;
  });
  const fs::path documents = publish::containerDocumentsFolder(home);
  std::vector<double> allTicks, allPosts, allIdle;
  double longestTaskAll = 0;
  for (int round = 0; round < rounds; ++round) {
    // Another library, switched on and published everywhere; an orphaned
    // one, switched off, whose folder is gone.
    defaults.setBool(libraries::syncLibraryKey("Other"), true);
    defaults.setString(libraries::libraryFilenameKey("Other"), "other-usd.json");
    defaults.setBool(libraries::syncLibraryKey("Gone"), false);
    defaults.setString(libraries::libraryPathKey("Gone"), "/nonexistent/Gone");
    defaults.setString(libraries::libraryFilenameKey("Gone"), "gone-usd.json");
    for (const fs::path& folder : {documents, home / "Library/Containers/c0/Data/Documents",
                                   home / "Library/Containers/c1/Data/Documents"}) {
      files::createFolders(folder);
      files::atomicWrite(folder / "other-usd.json", R"({"libraryName":"Other"})");
      files::atomicWrite(folder / "gone-usd.json", R"({"libraryName":"Gone"})");
    }
    if (holdLockMs > 0) defaults.remove(libraries::syncLibraryKey("Biz"));
    manager->notifyStatusChanged();
    loop.runUntil([&] { return loop.settled(); }, std::chrono::seconds(5));

    Stats stats, ticks;
    lastTick = Clock::now();
    tickStats = &ticks;
    std::atomic<bool> stop{false}, clicked{false};
    std::thread probe([&] {
      while (!stop) {
        const auto posted = Clock::now();
        loop.async([&stats, posted] {
          stats.add(std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    // The same posts to a second run loop whose main thread does nothing
    // else: what the machine alone makes a post wait.
    Stats noise;
    std::atomic<platform::posix::RunLoopDispatcher*> idleLoop{nullptr};
    std::thread idleMain([&] {
      platform::posix::RunLoopDispatcher idle;
      idleLoop = &idle;
      idle.runUntil([&] { return stop.load(); }, std::chrono::minutes(10));
      idleLoop = nullptr;
    });
    std::thread control([&] {
      while (!stop) {
        if (platform::posix::RunLoopDispatcher* idle = idleLoop) {
          const auto posted = Clock::now();
          idle->async([&noise, posted] {
            noise.add(std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
          });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    std::thread user([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      timedLoop.async([&] {
        testing::FakeMenu& submenu = *statusItem->fakeMenu()->item(app::kLibrariesTitle).fakeSubmenu();
        for (std::size_t i = 0; i < submenu.size(); ++i) {
          if (submenu.at(i).representedObject() == "Other") submenu.at(i).choose();
        }
        if (holdLockMs > 0) {
          for (int i = 0; i < 2; ++i) statusItem->fakeMenu()->item(app::kAutoSyncTitle).choose();
        }
        manager->scheduleCheck();
        clicked = true;
      });
    });

    testing::FakeMenuItem& syncNow = statusItem->fakeMenu()->item(app::kSyncNowTitle);
    loop.runUntil([&] { return syncNow.isEnabled(); }, std::chrono::seconds(5));
    timedLoop.takeLongestMs();
    pid_t holder = -1;
    if (holdLockMs > 0) {  // another process takes the lock and keeps it
      int ready[2];
      if (::pipe(ready) != 0) return 1;
      holder = ::fork();
      if (holder == 0) {
        const int lock = ::open((home / "settings.json.lock").c_str(), O_RDWR | O_CREAT, 0600);
        if (::flock(lock, LOCK_EX) == 0 && ::write(ready[1], "x", 1) == 1) ::usleep(holdLockMs * 1000);
        ::_exit(0);
      }
      char byte = 0;
      if (::read(ready[0], &byte, 1) != 1) return 1;
      ::close(ready[0]);
      ::close(ready[1]);
    }
    const auto start = Clock::now();
    std::atomic<bool> chosen{false};
    timedLoop.async([&] {
      syncNow.choose();
      chosen = true;
    });
    // The end of the round is watched from another thread, so that the main
    // loop tests nothing but a flag between its tasks.
    std::atomic<bool> done{false};
    std::thread watcher([&] {
      while (!(chosen && clicked && !manager->isSyncing() && loop.settled() &&
               !manager->isLibraryEnabled("Other") &&
               defaults.value(libraries::syncLibraryKey("Gone")).isAbsent() &&
               defaults.value(libraries::syncLibraryKey("Biz")).asBool() == true &&
               defaults.value(engine::kAutoSyncEnabledKey).asBool() == true)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      done = true;
    });
    const bool finished = loop.runUntil([&] { return done.load(); }, std::chrono::minutes(5));
    watcher.join();
    if (holder > 0) ::waitpid(holder, nullptr, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    user.join();
    probe.join();
    control.join();
    idleMain.join();
    loop.runUntil([&] { return loop.settled(); }, std::chrono::seconds(5));

    tickStats = nullptr;
    std::scoped_lock lock(stats.mutex, noise.mutex);
    char label[32];
    std::snprintf(label, sizeof label, "round %d", round + 1);
    const double longestTask = timedLoop.takeLongestMs();
    report(label, ticks.waitsMs, longestTask, stats.waitsMs, noise.waitsMs);
    std::printf(
        "          %.2f s until done%s; other-usd.json left in %d folder(s)\n", seconds,
        finished ? "" : " (TIMED OUT)",
        static_cast<int>(files::exists(documents / "other-usd.json")) +
            static_cast<int>(files::exists(home / "Library/Containers/c0/Data/Documents/other-usd.json")));
    longestTaskAll = std::max(longestTaskAll, longestTask);
    allTicks.insert(allTicks.end(), ticks.waitsMs.begin(), ticks.waitsMs.end());
    allPosts.insert(allPosts.end(), stats.waitsMs.begin(), stats.waitsMs.end());
    allIdle.insert(allIdle.end(), noise.waitsMs.begin(), noise.waitsMs.end());
  }
  report("all", allTicks, longestTaskAll, allPosts, allIdle);
  std::printf(
      "settings: %s%s; exports: %zu OK, %zu failed\n", fileSettings ? "JSON settings file" : "memory",
      holdLockMs > 0 ? (", its lock held " + std::to_string(holdLockMs) + " ms per round").c_str() : "",
      log.count("Export OK"), log.count("Export failed"));
  for (const std::string& line : log.lines()) {
    if (line.find("failed") != std::string::npos) std::printf("%s\n", line.c_str());
  }

  delegate.reset();
  manager.reset();
  if (ownHome) fs::remove_all(home);
  return 0;
}
