// Syncs and checks from several threads at once. Runs must never overlap, no
// run may happen while the first-sync question is open, and `isSyncing` must
// be true exactly during runs. (A switch-off racing a run: ExportRunTest.)

#include <atomic>
#include <thread>
#include <vector>

#include "EngineFixture.h"

namespace quillory::engine::test {
namespace {

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

  for (int round = 0; round < kRounds; ++round) {
    defaults.remove("sync_library_Lib");  // the next sync asks again
    alerts.queueAnswer(round % 2);
    // Seven threads call over and over (three "Sync Now", three idle syncs,
    // one check) while the test's thread pumps the main queue for 60 ms; it
    // pumps on (their questions wait for it) until they have all ended.
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 7; ++i) {
      threads.emplace_back([&, i] {
        for (; !stop; std::this_thread::sleep_for(std::chrono::microseconds(100)))
          i == 6 ? engine().periodicCheck() : engine().sync(i % 2 ? "idle 3 min" : "manual");
        ++finished;
      });
    }
    dispatcher.pumpUntil([] { return false; }, std::chrono::milliseconds(60));
    stop = true;
    EXPECT_TRUE(dispatcher.pumpUntil([&] { return finished == 7; }, std::chrono::minutes(2)));
    for (auto& thread : threads) thread.join();
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
