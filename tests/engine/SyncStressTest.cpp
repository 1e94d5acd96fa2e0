// Many threads call `sync` at once, over and over, while the first-sync
// alert is pending and while runs are going on; a check thread works on the
// same state meanwhile. Runs must never overlap, no run may happen while the
// question is open, and `isSyncing` must be true exactly during runs.

#include <atomic>
#include <thread>
#include <vector>

#include "EngineFixture.h"
#include "platform/Files.h"

namespace quillory::engine::test {
namespace {

TEST_F(EngineTest, ConcurrentSyncsNeverOverlapEvenWhileTheQuestionIsOpen) {
  constexpr int kRounds = 8;
  constexpr int kThreads = 6;
  constexpr auto kRoundLength = std::chrono::milliseconds(60);

  settleLibrary("Lib");
  scripts.setAnswer(kNameScript, "Lib");

  std::atomic<int> runsInFlight{0}, runs{0}, alertsOpen{0}, alertsShown{0};
  std::atomic<bool> overlap{false}, runWhileAsking{false}, syncingWhileAsking{false}, notSyncingInRun{false};

  scripts.setHandler(kExportScript, [&] {
    if (runsInFlight.fetch_add(1) != 0) overlap = true;
    if (alertsOpen.load() != 0) runWhileAsking = true;
    if (!engine().isSyncing()) notSyncingInRun = true;
    ++runs;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    runsInFlight.fetch_sub(1);
    return std::string();  // fails fast with klNotResponding
  });
  alerts.setWhileOpen([&](const platform::Alert&) {
    if (alertsOpen.fetch_add(1) != 0) overlap = true;  // a second question inside the first
    ++alertsShown;
    if (runsInFlight.load() != 0) runWhileAsking = true;
    if (engine().isSyncing()) syncingWhileAsking = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // keep it open while the others call
    engine().sync("manual");                                    // a nested call returns at once
    alertsOpen.fetch_sub(1);
  });

  for (int round = 0; round < kRounds; ++round) {
    defaults.remove("sync_library_Lib");  // the next sync asks again
    alerts.queueAnswer(round % 2 == 0 ? 0 : 1);
    std::atomic<int> finished{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
      callers.emplace_back([&, t, end = std::chrono::steady_clock::now() + kRoundLength] {
        for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
          engine().sync(t % 2 == 0 ? "manual" : "idle 3 min");
          if (i % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        ++finished;
      });
    }
    std::thread checker([&] {
      for (int i = 0; i < 20; ++i) {
        engine().periodicCheck();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ++finished;
    });
    EXPECT_TRUE(
        dispatcher.pumpUntil([&] { return finished.load() == kThreads + 1; }, std::chrono::minutes(2)));
    for (auto& c : callers) c.join();
    checker.join();
    settle();
  }

  EXPECT_FALSE(overlap);
  EXPECT_FALSE(runWhileAsking);
  EXPECT_FALSE(syncingWhileAsking);
  EXPECT_FALSE(notSyncingInRun);
  EXPECT_EQ(scripts.maxInFlight(kExportScript), 1u);
  EXPECT_GE(alertsShown.load(), kRounds);
  EXPECT_GT(runs.load(), 0);
  EXPECT_EQ(alerts.offMainCalls(), 0u);
  EXPECT_FALSE(engine().isSyncing());
  // Every run ended in exactly one outcome line.
  EXPECT_EQ(log.count("Export failed"), static_cast<std::size_t>(runs.load()));
}

// Switch-offs, switch-ons, syncs and pruning passes of one library from
// several threads at once: whatever the interleaving, a library that ends
// switched off has nothing published, in the container or an app container.
TEST_F(EngineTest, ASwitchedOffLibraryNeverStaysPublished) {
  constexpr int kRounds = 100;
  workspace.launch(kHost);
  home.writeFile("Library/Containers/X/Data/Library/Preferences/test.quillory.mobile.plist", "");
  scripts.setAnswer(kNameScript, "Biz");
  scripts.setHandler(kExportScript, [] {
    std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 300));
    return std::string(kExportJson);
  });
  const std::vector<std::filesystem::path> folders = {
      home / "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents",
      home / "Library/Containers/X/Data/Documents"};
  alerts.setDefaultAnswer(1);  // a library forgotten by pruning is asked about again: "Don't Sync"

  for (int round = 0; round < kRounds; ++round) {
    engine().setLibraryEnabled("Biz", true);
    std::atomic<bool> stopEnabling{false}, switchedOff{false};
    std::atomic<int> finished{0};
    const auto until = [&](std::atomic<bool>& stop, const std::function<void()>& step) {
      return std::thread([&, step] {
        while (!stop.load()) {
          step();
          std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        ++finished;
      });
    };
    std::vector<std::thread> threads;
    threads.push_back(until(switchedOff, [&] { engine().sync("manual"); }));
    threads.push_back(until(switchedOff, [&] { engine().sync("idle 3 min"); }));
    threads.push_back(until(switchedOff, [&] { engine().pruneLibraries(); }));
    threads.push_back(until(stopEnabling, [&] { engine().setLibraryEnabled("Biz", true); }));
    threads.emplace_back([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 3000));
      stopEnabling = true;
      while (finished.load() == 0) std::this_thread::yield();  // the last switch-on is done
      engine().switchOffLibrary("Biz");
      switchedOff = true;
      ++finished;
    });
    EXPECT_TRUE(dispatcher.pumpUntil([&] { return finished.load() == 5; }, std::chrono::minutes(1)));
    for (auto& thread : threads) thread.join();
    settle();
    ASSERT_FALSE(engine().isLibraryEnabled("Biz"));
    for (const auto& folder : folders) {
      ASSERT_EQ(platform::files::listFolder(folder).value_or(std::vector<std::string>{}),
                std::vector<std::string>{})
          << "round " << round << ": " << folder;
    }
  }
  EXPECT_GT(log.count("Export OK"), 0u);
  EXPECT_EQ(log.count("Could not delete"), 0u);
}

}  // namespace
}  // namespace quillory::engine::test
