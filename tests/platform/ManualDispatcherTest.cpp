// The shared fakes that carry logic of their own: the manual dispatcher and
// the scripted alerts.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "support/ManualDispatcher.h"
#include "support/ScriptedAlerts.h"

namespace quillory::testing {
namespace {

using platform::QualityOfService;
using namespace std::chrono_literals;

// In queued mode global tasks, like main tasks, wait on the test thread until pumped.
TEST(ManualDispatcherTest, MainAndQueuedGlobalTasksRunOnlyWhenPumpedIncludingNestedOnes) {
  ManualDispatcher dispatcher(ManualDispatcher::GlobalMode::queued);
  std::vector<int> order;
  dispatcher.async([&] {
    order.push_back(1);
    dispatcher.async([&] { order.push_back(2); });
  });
  dispatcher.global(QualityOfService::utility, [&] {
    order.push_back(3);
    dispatcher.global(QualityOfService::utility, [&] { order.push_back(4); });
  });
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(dispatcher.pendingMainTasks(), 1u);
  EXPECT_EQ(dispatcher.pendingGlobalTasks(), 1u);
  EXPECT_EQ(dispatcher.runMainUntilIdle(), 2u);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(dispatcher.runGlobalTasks(), 2u);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(ManualDispatcherTest, SyncFromGlobalThreadIsHandedToTheMainThreadWhileDraining) {
  ManualDispatcher dispatcher;
  std::atomic<bool> ranOnMain{false};
  std::atomic<int> done{0};
  for (auto qos : {QualityOfService::background, QualityOfService::userInitiated}) {
    dispatcher.global(qos, [&] {
      dispatcher.sync([&] { ranOnMain = dispatcher.isMainThread(); });
      dispatcher.async([&] { ++done; });
      ++done;
    });
  }
  EXPECT_TRUE(dispatcher.drain(10s));
  EXPECT_TRUE(ranOnMain);
  EXPECT_EQ(done.load(), 4);
  EXPECT_EQ(dispatcher.runningGlobalTasks(), 0u);
  EXPECT_EQ(dispatcher.globalCalls(),
            (std::vector<QualityOfService>{QualityOfService::background, QualityOfService::userInitiated}));
}

TEST(ManualDispatcherTest, TimersTickPerIntervalAndAreSkippedWhileModal) {
  ManualDispatcher dispatcher;
  int fast = 0;
  int slow = 0;
  dispatcher.repeatOnMain(10s, [&] { ++fast; });
  dispatcher.repeatOnMain(60s, [&] { ++slow; });
  EXPECT_EQ(dispatcher.timerCount(), 2u);
  EXPECT_EQ(dispatcher.tickTimersFor(9900ms), 0u);
  EXPECT_EQ(dispatcher.tickTimersFor(50100ms), 7u);  // t = 60: six fast ticks and one slow
  EXPECT_EQ(fast, 6);
  EXPECT_EQ(slow, 1);
  {
    platform::ModalScope modal(dispatcher);
    EXPECT_EQ(dispatcher.tickTimersFor(60s), 0u);
  }
  EXPECT_EQ(dispatcher.tickTimersFor(10s), 1u);  // skipped ticks do not come back
  EXPECT_EQ(fast, 7);
}

TEST(ManualDispatcherTest, DestructorReleasesSyncCallersWhoseTaskNeverRuns) {
  std::atomic<bool> returned{false};
  std::atomic<bool> ran{false};
  {
    ManualDispatcher dispatcher;
    dispatcher.global(QualityOfService::background, [&] {
      dispatcher.sync([&] { ran = true; });
      returned = true;
    });
    while (dispatcher.pendingMainTasks() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(returned);
  EXPECT_FALSE(ran);
}

TEST(ScriptedAlertsTest, AnswersInOrderThenDefaultAndMarksTheAlertModal) {
  ManualDispatcher dispatcher;
  ScriptedAlerts alerts(&dispatcher, 1);
  alerts.queueAnswer(0);
  int depthWhileOpen = -1;
  alerts.setWhileOpen([&](const platform::Alert&) { depthWhileOpen = dispatcher.modalDepth(); });
  platform::Alert alert{"Sync?", "details", platform::AlertStyle::informational, {"Sync", "Not Now"}};
  EXPECT_EQ(alerts.run(alert), 0);
  EXPECT_EQ(depthWhileOpen, 1);
  EXPECT_EQ(dispatcher.modalDepth(), 0);
  EXPECT_EQ(alerts.run(alert), 1);
  EXPECT_EQ(alerts.count(), 2u);
  EXPECT_EQ(alerts.shown()[0].buttons, (std::vector<std::string>{"Sync", "Not Now"}));
  EXPECT_EQ(alerts.offMainCalls(), 0u);
  std::async(std::launch::async, [&] { alerts.run(alert); }).wait();
  EXPECT_EQ(alerts.offMainCalls(), 1u);
}

}  // namespace
}  // namespace quillory::testing
