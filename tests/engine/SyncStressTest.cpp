// Syncs and checks from several threads at once. Runs must never overlap, no
// run may happen while the first-sync question is open, and `isSyncing` must
// be true exactly during runs. (A switch-off racing a run: ExportRunTest.)

#include <atomic>
#include <thread>
#include <vector>

#include "EngineFixture.h"

namespace quillory::engine::test {
namespace {

// Runs every step over and over, each on its own thread with short pauses,
// until `during` has returned on the test's thread; then pumps the main queue
// (the threads' questions wait for it) until all threads have ended.
void repeatDuring(testing::ManualDispatcher& dispatcher, const std::vector<std::function<void()>>& steps,
                  const std::function<void()>& during) {
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> finished{0};
  std::vector<std::thread> threads;
  for (const auto& step : steps) {
    threads.emplace_back([&stop, &finished, &step] {
      while (!stop.load()) {
        step();
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      ++finished;
    });
  }
  during();
  stop = true;
  EXPECT_TRUE(dispatcher.pumpUntil([&] { return finished.load() == steps.size(); }, std::chrono::minutes(2)));
  for (auto& thread : threads) thread.join();
}

TEST_F(EngineTest, ConcurrentSyncsNeverOverlapEvenWhileTheQuestionIsOpen) {
  constexpr int kRounds = 8;
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

  const auto manual = [&] { engine().sync("manual"); };
  const auto idle = [&] { engine().sync("idle 3 min"); };
  for (int round = 0; round < kRounds; ++round) {
    defaults.remove("sync_library_Lib");  // the next sync asks again
    alerts.queueAnswer(round % 2);
    repeatDuring(dispatcher, {manual, idle, manual, idle, manual, idle, [&] { engine().periodicCheck(); }},
                 [&] { dispatcher.pumpUntil([] { return false; }, std::chrono::milliseconds(60)); });
    settle();
  }

  EXPECT_FALSE(broken);
  EXPECT_EQ(scripts.maxInFlight(kExportScript), 1u);  // runs never overlap
  EXPECT_GE(alerts.shown().size(), static_cast<std::size_t>(kRounds));
  EXPECT_GT(scripts.calls(kExportScript), 0u);
  // Every run ended in exactly one outcome line.
  EXPECT_EQ(log.count("Export failed"), scripts.calls(kExportScript));
}

}  // namespace
}  // namespace quillory::engine::test
