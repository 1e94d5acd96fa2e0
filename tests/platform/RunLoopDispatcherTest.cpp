#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

#include "platform/posix/RunLoopDispatcher.h"

namespace quillory::platform::posix {
namespace {

using QoS = QualityOfService;

TEST(RunLoopDispatcherTest, AsyncRunsLaterOnTheMainThreadInOrder) {
  RunLoopDispatcher dispatcher;
  std::vector<int> order;
  dispatcher.async([&] {
    order.push_back(1);
    dispatcher.async([&] { order.push_back(3); });  // never inside the call, also on main
    order.push_back(2);
  });
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(dispatcher.runUntil([&] { return order.size() == 3; }, 5));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(RunLoopDispatcherTest, SyncFromAWorkerRunsOnMainAndWaits) {
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
  });
  EXPECT_TRUE(dispatcher.runUntil([&] { return workerSawResult.load(); }, 5));
  EXPECT_TRUE(ranOnMain);

  bool direct = false;
  dispatcher.sync([&] { direct = true; });  // on main: runs at once
  EXPECT_TRUE(direct);
}

TEST(RunLoopDispatcherTest, RunUntilNoticesAConditionSetByAnotherThreadWithoutMainTasks) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> flag{false};
  dispatcher.global(QoS::utility, [&] { flag = true; });
  // With nothing queued on main, the loop must still look at the condition
  // again instead of sleeping until the (hour-long) limit.
  EXPECT_TRUE(dispatcher.runUntil([&] { return flag.load(); }, 3600));
}

TEST(RunLoopDispatcherTest, TasksWaitingOnEachOtherAcrossAndWithinQueuesDoNotDeadlock) {
  RunLoopDispatcher dispatcher;
  std::atomic<int> finished{0};
  // An export on the user-initiated queue waits for its reader on the utility
  // queue; on each queue a task also waits for one queued after it.
  for (QoS qos : {QoS::userInitiated, QoS::utility, QoS::background}) {
    for (int i = 0; i < 3; ++i) {
      auto reader = std::make_shared<std::promise<void>>();
      dispatcher.global(qos, [&, reader] {
        reader->get_future().wait();
        ++finished;
      });
      dispatcher.global(QoS::utility, [&, reader] {
        reader->set_value();
        ++finished;
      });
    }
  }
  EXPECT_TRUE(dispatcher.runUntil([&] { return finished.load() == 18; }, 10));
}

TEST(RunLoopDispatcherTest, IdleWorkersEnd) {
  RunLoopDispatcher dispatcher(0.05);
  std::atomic<int> ran{0};
  for (int i = 0; i < 4; ++i) dispatcher.global(QoS::utility, [&] { ++ran; });
  EXPECT_TRUE(dispatcher.runUntil([&] { return ran.load() == 4 && dispatcher.workerCount() == 0; }, 10));
  dispatcher.global(QoS::utility, [&] { ++ran; });  // a new worker starts after the old ones ended
  EXPECT_TRUE(dispatcher.runUntil([&] { return ran.load() == 5; }, 10));
}

TEST(RunLoopDispatcherTest, TimersTickAfterOneIntervalAndNotWhileModal) {
  RunLoopDispatcher dispatcher;
  std::atomic<int> ticks{0};
  std::chrono::steady_clock::time_point firstTick;
  const auto start = std::chrono::steady_clock::now();
  dispatcher.repeatOnMain(0.2, [&] {
    if (ticks++ == 0) firstTick = std::chrono::steady_clock::now();
  });
  EXPECT_TRUE(dispatcher.runUntil([&] { return ticks.load() >= 2; }, 10));
  EXPECT_GE(firstTick - start, std::chrono::milliseconds(200));  // no tick at start

  dispatcher.enterModal();
  EXPECT_EQ(dispatcher.modalDepth(), 1);
  const int before = ticks.load();
  dispatcher.runUntil([] { return false; }, 0.5);
  EXPECT_EQ(ticks.load(), before);
  dispatcher.exitModal();
  // Skipped ticks are not made up: at most one comes at once after the modal ends.
  dispatcher.runUntil([] { return false; }, 0.05);
  EXPECT_LE(ticks.load(), before + 1);
  EXPECT_TRUE(dispatcher.runUntil([&] { return ticks.load() >= before + 2; }, 10));
}

TEST(RunLoopDispatcherTest, StopFromAnotherThreadEndsRun) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> ran{false};
  dispatcher.global(QoS::utility, [&] {
    dispatcher.sync([&] { ran = true; });
    dispatcher.stop();
  });
  dispatcher.run();
  EXPECT_TRUE(ran);
}

TEST(RunLoopDispatcherTest, DestructorJoinsWorkersAndReleasesWaitingSyncCalls) {
  std::atomic<bool> longTaskEnded{false};
  std::atomic<bool> syncReturned{false};
  std::atomic<bool> droppedRan{false};
  {
    RunLoopDispatcher dispatcher;
    std::promise<void> started;
    std::promise<void> waiting;
    dispatcher.global(QoS::userInitiated, [&] {
      started.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      longTaskEnded = true;
    });
    dispatcher.global(QoS::background, [&] {
      waiting.set_value();
      dispatcher.sync([&] { droppedRan = true; });  // nobody pumps main
      syncReturned = true;
    });
    dispatcher.async([&] { droppedRan = true; });
    started.get_future().wait();
    waiting.get_future().wait();
  }
  EXPECT_TRUE(longTaskEnded);
  EXPECT_TRUE(syncReturned);
  EXPECT_FALSE(droppedRan);
}

}  // namespace
}  // namespace quillory::platform::posix
