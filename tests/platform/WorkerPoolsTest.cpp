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

TEST(WorkerPoolsTest, QueuesGrowForTasksWaitingAcrossAndWithinThemIdleWorkersEndAndShutdownRefusesTasks) {
  WorkerPools pools(std::chrono::milliseconds(50), 1);
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
  EXPECT_TRUE(eventually([&] { return finished.load() == 6 && pools.workerCount() == 3; }));
  EXPECT_TRUE(eventually([&] { return pools.settled(); }));
  // A running task is not settled, even on a kept worker.
  std::promise<void> release;
  pools.submit(QoS::utility, [running = release.get_future().share()] { running.wait(); });
  EXPECT_FALSE(pools.settled());
  release.set_value();
  EXPECT_TRUE(eventually([&] { return pools.settled(); }));
  // After shutdown (that it waits for running tasks, the dispatcher contract
  // checks) new tasks are refused: no worker starts for them.
  pools.shutdown();
  pools.submit(QoS::utility, [&] { ++finished; });
  EXPECT_EQ(pools.workerCount(), 0u);
}

}  // namespace
}  // namespace quillory::platform::posix
