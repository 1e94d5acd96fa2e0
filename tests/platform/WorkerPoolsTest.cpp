#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "platform/posix/WorkerPools.h"

namespace quillory::platform::posix {
namespace {

using QoS = QualityOfService;
using namespace std::chrono_literals;

bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Set by every task: a worker that has run one before is not a new thread.
thread_local bool workerRanTask = false;

TEST(WorkerPoolsTest, QueuesGrowForTasksWaitingAcrossAndWithinThemAndIdleWorkersBeyondTheKeptEnd) {
  WorkerPools pools(0.05, 1);
  std::atomic<int> finished{0};
  // A task on every queue waits for one queued after it, on its own queue and
  // on the utility queue (an export waiting for its reader).
  for (QoS qos : {QoS::userInitiated, QoS::utility, QoS::background}) {
    for (QoS other : {qos, QoS::utility}) {
      auto gate = std::make_shared<std::promise<void>>();
      pools.submit(qos, [&, gate] {
        gate->get_future().wait();
        workerRanTask = true;
        ++finished;
      });
      pools.submit(other, [&, gate] {
        gate->set_value();
        workerRanTask = true;
        ++finished;
      });
    }
  }
  EXPECT_TRUE(eventually([&] { return finished.load() == 12; }));
  EXPECT_TRUE(eventually([&] { return pools.workerCount() == 3; }));  // one kept per pool
  std::this_thread::sleep_for(200ms);                                 // idle well past the idle time
  std::promise<bool> oldWorker;
  pools.submit(QoS::utility, [&] { oldWorker.set_value(workerRanTask); });
  EXPECT_TRUE(oldWorker.get_future().get());
  EXPECT_EQ(pools.workerCount(), 3u);
}

TEST(WorkerPoolsTest, ShutdownWaitsForRunningTasksAndRefusesNewOnes) {
  std::atomic<bool> ended{false};
  std::atomic<bool> lateRan{false};
  WorkerPools pools;
  std::promise<void> started;
  pools.submit(QoS::background, [&] {
    started.set_value();
    std::this_thread::sleep_for(100ms);
    ended = true;
  });
  started.get_future().wait();
  pools.shutdown();
  EXPECT_TRUE(ended);
  EXPECT_EQ(pools.workerCount(), 0u);
  pools.submit(QoS::userInitiated, [&] { lateRan = true; });
  EXPECT_EQ(pools.workerCount(), 0u);
  pools.shutdown();  // again, as the destructor does: nothing left to join
  EXPECT_FALSE(lateRan);
}

}  // namespace
}  // namespace quillory::platform::posix
