// The dispatcher contract on the run-loop dispatcher, what the run loop
// offers beyond it, and the worker pools behind its global queues. (The
// test's own manual dispatcher is left to the engine and app tests that stand
// on it.)
#include <gtest/gtest.h>

#include "platform/DispatcherContractTest.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "platform/posix/WorkerPools.h"

namespace quillory::platform::test {
namespace {

using posix::RunLoopDispatcher;

struct RunLoop {
  using Type = RunLoopDispatcher;
  static bool pumpUntil(Type& d, const std::function<bool()>& done) { return d.runUntil(done, 10s); }
  static void pumpFor(Type& d, std::chrono::milliseconds duration) {
    d.runUntil([] { return false; }, duration);
  }
  static void settle() {}
};

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, DispatcherContract, RunLoop);

// With nothing queued on main, runUntil must still look at a condition that
// another thread makes true, instead of sleeping until the (hour-long) limit.
TEST(RunLoopDispatcherTest, RunUntilSeesConditionsSetElsewhere) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> flag{false};
  dispatcher.global(QualityOfService::utility, [&] { flag = true; });
  EXPECT_TRUE(dispatcher.runUntil([&] { return flag.load(); }, 1h));
}

// A main-queue task that throws still releases its `sync` caller; the
// exception goes on to the loop's caller.
TEST(RunLoopDispatcherTest, ATaskThatThrowsReleasesItsSyncCaller) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    dispatcher.sync([] { throw 1; });
    returned = true;
  });
  EXPECT_THROW(dispatcher.runUntil([&] { return returned.load(); }, 1h), int);
  EXPECT_TRUE(dispatcher.runUntil([&] { return returned.load(); }, 10s));
  returned ? caller.join() : caller.detach();  // a caller left waiting would hang the test
}

using QoS = QualityOfService;

TEST(WorkerPoolsTest, QueuesGrowForTasksWaitingAcrossAndWithinThemIdleWorkersEndAndShutdownRefusesTasks) {
  RunLoopDispatcher loop;  // looks at the condition every few milliseconds
  posix::WorkerPools pools(std::chrono::milliseconds(50), 1);
  std::atomic<int> finished{0};
  // A task on every queue waits for one queued after it, on its own queue and
  // on the utility queue (an export waiting for its reader).
  for (QoS qos : {QoS::userInitiated, QoS::utility, QoS::background}) {
    for (QoS other : {qos, QoS::utility}) {
      auto gate = std::make_shared<std::promise<void>>();
      pools.submit(qos, [&, gate] {
        gate->get_future().wait();
        ++finished;
      });
      pools.submit(other, [gate] { gate->set_value(); });
    }
  }
  // Then idle workers end, but for the one kept per pool.
  EXPECT_TRUE(loop.runUntil([&] { return finished.load() == 6 && pools.workerCount() == 3; }, 10s));
  EXPECT_TRUE(loop.runUntil([&] { return pools.settled(); }, 10s));
  // A running task is not settled, even on a kept worker.
  std::promise<void> release;
  pools.submit(QoS::utility, [running = release.get_future().share()] { running.wait(); });
  EXPECT_FALSE(pools.settled());
  release.set_value();
  EXPECT_TRUE(loop.runUntil([&] { return pools.settled(); }, 10s));
  // After shutdown (that it waits for running tasks, the dispatcher contract
  // checks) new tasks are refused: no worker starts for them.
  pools.shutdown();
  pools.submit(QoS::utility, [&] { ++finished; });
  EXPECT_EQ(pools.workerCount(), 0u);
}

}  // namespace
}  // namespace quillory::platform::test
