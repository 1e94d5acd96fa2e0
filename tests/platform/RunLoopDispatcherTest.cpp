#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

#include "platform/posix/RunLoopDispatcher.h"

namespace quillory::platform::posix {
namespace {

using QoS = QualityOfService;
using namespace std::chrono_literals;

TEST(RunLoopDispatcherTest, AsyncRunsLaterOnTheMainThreadInOrder) {
  RunLoopDispatcher dispatcher;
  std::vector<int> order;
  dispatcher.async([&] {
    order.push_back(1);
    dispatcher.async([&] { order.push_back(3); });  // never inside the call, also on main
    order.push_back(2);
  });
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(dispatcher.runUntil([&] { return order.size() == 3; }, 5s));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(RunLoopDispatcherTest, RunUntilNoticesAConditionSetByAnotherThreadWithoutMainTasks) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> flag{false};
  dispatcher.global(QoS::utility, [&] { flag = true; });
  // With nothing queued on main, the loop must still look at the condition
  // again instead of sleeping until the (hour-long) limit.
  EXPECT_TRUE(dispatcher.runUntil([&] { return flag.load(); }, 1h));
}

TEST(RunLoopDispatcherTest, TimersTickAfterOneIntervalAndNotWhileModal) {
  RunLoopDispatcher dispatcher;
  std::atomic<int> ticks{0};
  std::chrono::steady_clock::time_point firstTick;
  const auto start = std::chrono::steady_clock::now();
  dispatcher.repeatOnMain(200ms, [&] {
    if (ticks++ == 0) firstTick = std::chrono::steady_clock::now();
  });
  EXPECT_TRUE(dispatcher.runUntil([&] { return ticks.load() >= 2; }, 10s));
  EXPECT_GE(firstTick - start, std::chrono::milliseconds(200));  // no tick at start

  dispatcher.enterModal();
  EXPECT_EQ(dispatcher.modalDepth(), 1);
  const int before = ticks.load();
  dispatcher.runUntil([] { return false; }, 500ms);
  EXPECT_EQ(ticks.load(), before);
  dispatcher.exitModal();
  // Skipped ticks are not made up: at most one comes at once after the modal ends.
  dispatcher.runUntil([] { return false; }, 50ms);
  EXPECT_LE(ticks.load(), before + 1);
  EXPECT_TRUE(dispatcher.runUntil([&] { return ticks.load() >= before + 2; }, 10s));
}

TEST(RunLoopDispatcherTest, SyncFromAWorkerRunsOnMainAndWaitsAndStopEndsRun) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> workerSawResult{false};
  dispatcher.global(QoS::background, [&] {
    bool value = false;
    dispatcher.sync([&] {
      ranOnMain = dispatcher.isMainThread();
      value = true;
    });
    workerSawResult = value;
    dispatcher.stop();
  });
  dispatcher.run();
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(workerSawResult);
  bool direct = false;
  dispatcher.sync([&] { direct = true; });  // on main: runs at once
  EXPECT_TRUE(direct);
}

// Worker threads are joined by the pools (see WorkerPoolsTest); the dispatcher
// itself must release a worker waiting in sync() and drop what main never ran.
TEST(RunLoopDispatcherTest, DestructorReleasesWaitingSyncCallsAndDropsMainTasks) {
  std::atomic<bool> syncReturned{false};
  std::atomic<bool> droppedRan{false};
  {
    RunLoopDispatcher dispatcher;
    std::promise<void> waiting;
    dispatcher.global(QoS::background, [&] {
      waiting.set_value();
      dispatcher.sync([&] { droppedRan = true; });  // nobody pumps main
      syncReturned = true;
    });
    dispatcher.async([&] { droppedRan = true; });
    waiting.get_future().wait();
  }
  EXPECT_TRUE(syncReturned);
  EXPECT_FALSE(droppedRan);
}

}  // namespace
}  // namespace quillory::platform::posix
