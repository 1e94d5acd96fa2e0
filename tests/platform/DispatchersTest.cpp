// The dispatcher contract on the manual and the run-loop dispatcher, and what
// each offers beyond it; the scripted alerts, the other shared fake with logic.
#include <gtest/gtest.h>

#include <future>

#include "platform/DispatcherContractTest.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "support/ManualDispatcher.h"
#include "support/ScriptedAlerts.h"

namespace quillory::platform::test {
namespace {

using posix::RunLoopDispatcher;
using testing::ManualDispatcher;

// Virtual time moves on with real time while the test pumps.
struct Manual {
  using Type = ManualDispatcher;
  static bool pumpUntil(Type& d, const std::function<bool()>& done) {
    return d.pumpUntil(
        [&] {
          d.tickTimersFor(5ms);
          return done();
        },
        10s);
  }
  static void pumpFor(Type& d, std::chrono::milliseconds duration) {
    d.tickTimersFor(duration);
    d.runMainUntilIdle();
  }
  static void settle() {}
};

struct RunLoop {
  using Type = RunLoopDispatcher;
  static bool pumpUntil(Type& d, const std::function<bool()>& done) { return d.runUntil(done, 10s); }
  static void pumpFor(Type& d, std::chrono::milliseconds duration) {
    d.runUntil([] { return false; }, duration);
  }
  static void settle() {}
};

using Dispatchers = ::testing::Types<Manual, RunLoop>;
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, DispatcherContract, Dispatchers);

TEST(ManualDispatcherTest, QueuedModeRunsGlobalTasksOnlyWhenPumpedInOrder) {
  ManualDispatcher dispatcher(ManualDispatcher::GlobalMode::queued);
  std::vector<int> order;
  dispatcher.global(QualityOfService::utility, [&] {
    order.push_back(1);
    dispatcher.global(QualityOfService::background, [&] { order.push_back(2); });
  });
  EXPECT_EQ(dispatcher.pendingGlobalTasks(), 1u);
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(dispatcher.runGlobalTasks(), 2u);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(dispatcher.globalCalls(),
            (std::vector<QualityOfService>{QualityOfService::utility, QualityOfService::background}));
}

TEST(ManualDispatcherTest, TimersTickOncePerIntervalOfVirtualTime) {
  ManualDispatcher dispatcher;
  int fast = 0;
  int slow = 0;
  dispatcher.repeatOnMain(10s, [&] { ++fast; });
  dispatcher.repeatOnMain(60s, [&] { ++slow; });
  EXPECT_EQ(dispatcher.tickTimersFor(9900ms), 0u);
  EXPECT_EQ(dispatcher.tickTimersFor(50100ms), 7u);  // t = 60 s: six fast ticks and one slow
  EXPECT_EQ(fast, 6);
  EXPECT_EQ(slow, 1);
}

// With nothing queued on main, runUntil must still look at a condition that
// another thread makes true, instead of sleeping until the (hour-long) limit;
// `stop` ends `run` from any thread.
TEST(RunLoopDispatcherTest, RunUntilSeesConditionsSetElsewhereAndStopEndsRun) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> flag{false};
  dispatcher.global(QualityOfService::utility, [&] { flag = true; });
  EXPECT_TRUE(dispatcher.runUntil([&] { return flag.load(); }, 1h));
  dispatcher.global(QualityOfService::background, [&] { dispatcher.stop(); });
  dispatcher.run();
}

TEST(ScriptedAlertsTest, AnswersInOrderThenDefaultAndMarksTheAlertModal) {
  ManualDispatcher dispatcher;
  testing::ScriptedAlerts alerts(&dispatcher, 1);
  alerts.queueAnswer(0);
  int depthWhileOpen = -1;
  alerts.setWhileOpen([&](const Alert&) { depthWhileOpen = dispatcher.modalDepth(); });
  Alert alert{"Sync?", "details", AlertStyle::informational, {"Sync", "Not Now"}};
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
}  // namespace quillory::platform::test
