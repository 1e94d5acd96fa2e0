// Syncs, checks, switch-ons, switch-offs and pruning passes from several
// threads at once. Runs must never overlap, no run may happen while the
// first-sync question is open, `isSyncing` must be true exactly during runs,
// and a library that ends switched off has nothing published.

#include <atomic>
#include <thread>
#include <vector>

#include "EngineFixture.h"
#include "platform/Files.h"

namespace quillory::engine::test {
namespace {

// Runs `step` on a new thread, with short pauses, until `stop` is set.
std::thread repeatUntil(const std::atomic<bool>& stop, std::atomic<int>& finished,
                        std::function<void()> step) {
  return std::thread([&stop, &finished, step = std::move(step)] {
    while (!stop.load()) {
      step();
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ++finished;
  });
}

TEST_F(EngineTest, ConcurrentSyncsNeverOverlapEvenWhileTheQuestionIsOpen) {
  constexpr int kRounds = 8;
  constexpr int kThreads = 6;
  settleLibrary("Lib");
  scripts.setAnswer(kNameScript, "Lib");

  std::atomic<int> alertsOpen{0};
  std::atomic<bool> broken{false};  // any of the rules above was seen broken
  scripts.setHandler(kExportScript, [&] {
    if (alertsOpen.load() != 0 || !engine().isSyncing()) broken = true;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    return std::string();  // fails fast with klNotResponding
  });
  alerts.setWhileOpen([&](const platform::Alert&) {
    if (alertsOpen.fetch_add(1) != 0 || engine().isSyncing()) broken = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // keep it open while the others call
    engine().sync("manual");                                    // a nested call returns at once
    alertsOpen.fetch_sub(1);
  });

  for (int round = 0; round < kRounds; ++round) {
    defaults.remove("sync_library_Lib");  // the next sync asks again
    alerts.queueAnswer(round % 2);
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.push_back(
          repeatUntil(stop, finished, [&, t] { engine().sync(t % 2 ? "idle 3 min" : "manual"); }));
    }
    threads.push_back(repeatUntil(stop, finished, [&] { engine().periodicCheck(); }));
    dispatcher.pumpUntil([] { return false; }, std::chrono::milliseconds(60));
    stop = true;
    EXPECT_TRUE(
        dispatcher.pumpUntil([&] { return finished.load() == kThreads + 1; }, std::chrono::minutes(2)));
    for (auto& thread : threads) thread.join();
    settle();
  }

  EXPECT_FALSE(broken);
  EXPECT_EQ(scripts.maxInFlight(kExportScript), 1u);  // runs never overlap
  EXPECT_GE(alerts.count(), static_cast<std::size_t>(kRounds));
  EXPECT_GT(scripts.calls(kExportScript), 0u);
  EXPECT_EQ(alerts.offMainCalls(), 0u);
  EXPECT_FALSE(engine().isSyncing());
  // Every run ended in exactly one outcome line.
  EXPECT_EQ(log.count("Export failed"), scripts.calls(kExportScript));
}

TEST_F(EngineTest, ASwitchedOffLibraryNeverStaysPublished) {
  workspace.launch(kHost);
  home.writeFile("Library/Containers/X/Data/Library/Preferences/test.quillory.mobile.plist", "");
  scripts.setAnswer(kNameScript, "Biz");
  scripts.setHandler(kExportScript, [] {
    std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 300));
    return std::string(kExportJson);
  });
  alerts.setDefaultAnswer(1);  // a library forgotten by pruning is asked about again: "Don't Sync"

  for (int round = 0; round < 100; ++round) {
    engine().setLibraryEnabled("Biz", true);
    std::atomic<bool> stopEnabling{false}, switchedOff{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    threads.push_back(repeatUntil(switchedOff, finished, [&] { engine().sync("manual"); }));
    threads.push_back(repeatUntil(switchedOff, finished, [&] { engine().sync("idle 3 min"); }));
    threads.push_back(repeatUntil(switchedOff, finished, [&] { engine().pruneLibraries(); }));
    threads.push_back(repeatUntil(stopEnabling, finished, [&] { engine().setLibraryEnabled("Biz", true); }));
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
    for (const char* folder : {"Library/Mobile Documents/iCloud~test~quillory~mobile/Documents",
                               "Library/Containers/X/Data/Documents"}) {
      ASSERT_EQ(platform::files::listFolder(home / folder).value_or(std::vector<std::string>{}),
                std::vector<std::string>{})
          << "round " << round << ": " << folder;
    }
  }
  EXPECT_GT(log.count("Export OK"), 0u);
  EXPECT_EQ(log.count("Could not delete"), 0u);
}

}  // namespace
}  // namespace quillory::engine::test
