#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "QtPump.h"
#include "platform/qt/QtDispatcher.h"

namespace quillory::platform::qt::test {
namespace {

TEST(QtDispatcher, MainQueueRunsLaterInOrderFromAnyThreadAndSyncWaits) {
  QtDispatcher dispatcher;
  std::vector<int> order;  // main thread only
  dispatcher.async([&] { order.push_back(1); });
  std::thread([&] { dispatcher.async([&] { order.push_back(2); }); }).join();
  dispatcher.async([&] {
    order.push_back(3);
    dispatcher.async([&] { order.push_back(5); });  // queued from a task: runs after the rest
  });
  dispatcher.async([&] { order.push_back(4); });
  EXPECT_TRUE(order.empty());  // never inside the call
  ASSERT_TRUE(pumpUntil([&] { return order.size() == 5; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));

  bool ranInline = false;
  dispatcher.sync([&] { ranInline = dispatcher.isMainThread(); });
  EXPECT_TRUE(ranInline);
  std::atomic<bool> onMain = false, returned = false;
  std::thread worker([&] {
    dispatcher.sync([&] { onMain = dispatcher.isMainThread(); });
    returned = true;
  });
  ASSERT_TRUE(pumpUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(onMain);
}

TEST(QtDispatcher, GlobalQueuesGrowSoThatTasksMayWaitForEachOther) {
  QtDispatcher dispatcher;
  std::promise<void> utilityRan;
  std::future<void> utilityDone = utilityRan.get_future();
  std::atomic<int> finished = 0;
  // Several user-initiated tasks each wait for a utility task queued after
  // them.
  std::vector<std::promise<void>> gates(4);
  for (auto& gate : gates) {
    dispatcher.global(QualityOfService::userInitiated, [&, future = gate.get_future().share()] {
      future.wait();
      ++finished;
    });
  }
  for (auto& gate : gates) {
    dispatcher.global(QualityOfService::utility, [&gate] { gate.set_value(); });
  }
  ASSERT_TRUE(pumpUntil([&] { return finished.load() == 4; }));
}

TEST(QtDispatcher, TimersSkipTicksWhileAnAlertIsOpen) {
  QtDispatcher dispatcher;
  int ticks = 0;
  dispatcher.repeatOnMain(std::chrono::milliseconds(20), [&] { ++ticks; });
  EXPECT_EQ(ticks, 0);
  ASSERT_TRUE(pumpUntil([&] { return ticks >= 2; }));

  dispatcher.enterModal();
  int held = ticks;
  pumpFor(120);
  EXPECT_EQ(ticks, held);
  dispatcher.exitModal();
  ASSERT_TRUE(pumpUntil([&] { return ticks > held; }));
  EXPECT_LE(ticks, held + 2);  // the skipped ticks were not queued up

  // Any modal window holds them too, also one that did not enter the scope.
  QDialog dialog;
  held = ticks;
  QTimer::singleShot(150, &dialog, &QDialog::accept);
  dialog.exec();
  EXPECT_LE(ticks,
            held + 1);  // at most a tick that was due as the dialog opened
}

TEST(QtDispatcher, DestructionReleasesWaitersAndDropsQueuedTasks) {
  std::atomic<bool> returned = false;
  bool dropped = true;
  std::thread worker;
  {
    QtDispatcher dispatcher;
    std::atomic<bool> queued = false;
    worker = std::thread([&] {
      queued = true;
      dispatcher.sync([&] { dropped = false; });
      returned = true;
    });
    while (!queued) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    dispatcher.async([&] { dropped = false; });
  }
  worker.join();
  EXPECT_TRUE(returned);
  pumpFor(30);
  EXPECT_TRUE(dropped);
}

TEST(QtDispatcher, WorkersStillRunningAtDestructionMayStillCallIt) {
  std::atomic<bool> finished = false;
  {
    QtDispatcher dispatcher;
    std::atomic<bool> started = false;
    dispatcher.global(QualityOfService::background, [&] {
      started = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      dispatcher.sync([] {});  // returns at once while the dispatcher goes away
      dispatcher.async([] {});
      finished = true;
    });
    while (!started) std::this_thread::yield();
  }
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace quillory::platform::qt::test
