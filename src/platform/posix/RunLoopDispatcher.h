#pragma once
// A dispatcher on a plain C++ run loop, for programs without a GUI event loop
// (the command-line tools and the end-to-end tests).
//
// The main thread is the thread that constructed the dispatcher; `runUntil`
// runs its loop there. Global queues are the elastic worker pools of
// `WorkerPools`, one per quality of service.
//
// Destruction stops the loop, drops the tasks that still wait, and joins every
// worker, so a task running on a worker delays the destructor until it ends.
// A `sync` whose task is dropped returns without running it.
//
// Threading: every member may be called from any thread, except `runUntil`,
// which belongs to the main thread.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/posix/SyncWaiter.h"
#include "platform/posix/WorkerPools.h"

namespace quillory::platform::posix {

class RunLoopDispatcher final : public Dispatcher {
 public:
  RunLoopDispatcher();
  ~RunLoopDispatcher() override;
  RunLoopDispatcher(const RunLoopDispatcher&) = delete;
  RunLoopDispatcher& operator=(const RunLoopDispatcher&) = delete;

  void async(Task task) override;
  void sync(Task task) override;
  void global(QualityOfService qos, Task task) override;
  void repeatOnMain(std::chrono::milliseconds interval, Task tick) override;
  bool isMainThread() const override;
  void enterModal() override;
  void exitModal() override;
  int modalDepth() const override;

  // Runs the main loop until `done` returns true (tested after every task and
  // timer tick, and every few milliseconds in between) or the time limit
  // passes. Returns `done()`. An exception from a task or tick leaves the
  // loop and goes on to the caller; a `sync` caller of that task is released.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // True when no global task waits or runs and only the kept workers are left
  // (the soak driver takes its figures then).
  bool settled() const;

 private:
  using SteadyTime = std::chrono::steady_clock::time_point;
  struct MainItem {
    Task task;
    std::shared_ptr<SyncWaiter> waiter;
  };
  struct Timer {
    std::chrono::nanoseconds interval;
    SteadyTime due;
    std::shared_ptr<Task> tick;
  };

  const std::thread::id mainThread_;

  mutable std::mutex mainMutex_;
  std::condition_variable mainWake_;
  std::deque<MainItem> mainQueue_;
  std::vector<Timer> timers_;
  bool shuttingDown_ = false;
  int modalDepth_ = 0;

  WorkerPools workers_;
};

}  // namespace quillory::platform::posix
