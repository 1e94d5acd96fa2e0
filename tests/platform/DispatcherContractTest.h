#pragma once
// The contract of platform::Dispatcher, as one type-parameterised suite that
// every implementation instantiates (the Qt one in the Qt test binary, which
// has an application). An implementation is described by a struct with
//   using Type = <the dispatcher>;
//   static bool pumpUntil(Type&, const std::function<bool()>& done);  // main loop, 10 s at most
//   static void pumpFor(Type&, std::chrono::milliseconds);            // main loop for that long
//   static void settle();  // what the toolkit still holds after a dispatcher went

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Dispatcher.h"

namespace quillory::platform::test {

using namespace std::chrono_literals;

template <typename Impl>
class DispatcherContract : public ::testing::Test {
 protected:
  std::unique_ptr<typename Impl::Type> owner_ = std::make_unique<typename Impl::Type>();
  Dispatcher& d = *owner_;  // the tests go through the interface

  bool pumpUntil(const std::function<bool()>& done) { return Impl::pumpUntil(*owner_, done); }
  void pumpFor(std::chrono::milliseconds duration) { Impl::pumpFor(*owner_, duration); }
};

TYPED_TEST_SUITE_P(DispatcherContract);

TYPED_TEST_P(DispatcherContract, MainQueueRunsTasksLaterInSubmissionOrderFromAnyThread) {
  std::vector<int> order;  // main thread only
  this->d.async([&] {
    order.push_back(1);
    this->d.async([&] { order.push_back(4); });  // queued from a task: after the rest
  });
  std::thread([&] { this->d.async([&] { order.push_back(2); }); }).join();
  this->d.async([&] { order.push_back(3); });
  EXPECT_TRUE(order.empty());  // never inside the call, also on the main thread
  ASSERT_TRUE(this->pumpUntil([&] { return order.size() == 4; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TYPED_TEST_P(DispatcherContract, SyncRunsOnTheMainThreadAndReturnsAfterTheTask) {
  bool direct = false;
  this->d.sync([&] { direct = this->d.isMainThread(); });  // on the main thread: at once
  EXPECT_TRUE(direct);
  std::atomic<bool> sawResult{false};
  this->d.global(QualityOfService::background, [&] {
    bool onMain = false;
    this->d.sync([&] { onMain = this->d.isMainThread(); });
    sawResult = onMain;
  });
  ASSERT_TRUE(this->pumpUntil([&] { return sawResult.load(); }));
}

TYPED_TEST_P(DispatcherContract, TimersTickEveryIntervalAndSkipTicksWhileAnyAlertIsOpen) {
  int ticks = 0, hourly = 0;  // main thread only
  this->d.repeatOnMain(20ms, [&] { ++ticks; });
  std::thread([&] { this->d.repeatOnMain(1h, [&] { ++hourly; }); }).join();
  ASSERT_TRUE(this->pumpUntil([&] { return ticks >= 2; }));
  EXPECT_EQ(hourly, 0);  // the first tick comes one interval after the call

  int held = 0;
  {
    ModalScope outer(this->d);
    ModalScope{this->d};  // an inner alert opened and closed: the outer one still holds
    held = ticks;
    this->pumpFor(200ms);
    EXPECT_EQ(ticks, held);
  }
  ASSERT_TRUE(this->pumpUntil([&] { return ticks > held; }));
  EXPECT_LE(ticks, held + 2);  // the skipped ticks were not queued up
}

// Destruction waits for the running global tasks; what is queued on the main
// queue before or during it never runs.
TYPED_TEST_P(DispatcherContract, DestructionReleasesSyncCallersAndDropsWaitingTasks) {
  std::atomic<bool> returned{false}, ran{false};
  std::promise<void> started;
  this->d.global(QualityOfService::utility, [&] {
    started.set_value();                // a task still waiting to start would be dropped
    this->d.sync([&] { ran = true; });  // nobody pumps the main queue: returns once the dispatcher goes away
    this->d.sync([&] { ran = true; });  // from then on every call returns at once
    this->d.async([&] { ran = true; });
    returned = true;
  });
  this->d.async([&] { ran = true; });
  started.get_future().wait();
  // Time for the task to queue its first call, so that the release of a
  // queued caller is what is tested (a dispatcher that left it waiting hangs here).
  std::this_thread::sleep_for(50ms);
  this->owner_.reset();
  TypeParam::settle();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(ran);
}

REGISTER_TYPED_TEST_SUITE_P(DispatcherContract, MainQueueRunsTasksLaterInSubmissionOrderFromAnyThread,
                            SyncRunsOnTheMainThreadAndReturnsAfterTheTask,
                            TimersTickEveryIntervalAndSkipTicksWhileAnyAlertIsOpen,
                            DestructionReleasesSyncCallersAndDropsWaitingTasks);

}  // namespace quillory::platform::test
