#pragma once
// A dispatcher that the test pumps. The thread that constructs it (the test's
// own thread) is the main thread.
//
// - `async` queues; nothing runs until the test pumps: `runMainUntilIdle`
//   runs queued main tasks, including those queued while it runs.
// - `sync` from another thread queues the task and blocks until the test pumps
//   it (`pumpUntil`, `drain`); from the main thread it
//   runs the task directly.
// - `global`, in threads mode (the default), runs each task on a new real
//   thread; `drain` waits for them while pumping the
//   main queue, so sync hand-offs cannot deadlock. In
//   queued mode global tasks are only recorded, and `runGlobalTasks` runs them
//   on the calling thread.
// - Timers are recorded; `tickTimersFor` moves a virtual time forward and
//   ticks each timer once per interval that ends in it. While the modal depth
//   is above zero, ticks are skipped.
//
// The destructor runs nothing more: it drops the queued main tasks (their sync
// callers return without them) and global tasks, and joins every thread.
// Tests drain first when they need the work done.
//
// Threading: the Dispatcher members from any thread; the pumping helpers from
// the main thread only.

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

namespace quillory::testing {

class ManualDispatcher final : public platform::Dispatcher {
 public:
  enum class GlobalMode { threads, queued };

  explicit ManualDispatcher(GlobalMode mode = GlobalMode::threads);
  ~ManualDispatcher() override;
  ManualDispatcher(const ManualDispatcher&) = delete;
  ManualDispatcher& operator=(const ManualDispatcher&) = delete;

  void async(Task task) override;
  void sync(Task task) override;
  void global(platform::QualityOfService qos, Task task) override;
  void repeatOnMain(std::chrono::milliseconds interval, Task tick) override;
  bool isMainThread() const override;
  void enterModal() override;
  void exitModal() override;
  int modalDepth() const override;

  // Main queue: runs what is queued, and what that queues; returns the count.
  std::size_t runMainUntilIdle();
  // Pumps the main queue (waiting for new tasks in between) until `done`
  // returns true or the time limit passes; returns `done()`.
  bool pumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Pumps the main queue until nothing is queued or running (or the time
  // limit passes); true when nothing is.
  bool drain(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Global tasks started and not yet finished.
  std::size_t runningGlobalTasks() const;

  // Global queues, queued mode: run the recorded tasks (and those they queue)
  // on the calling thread, in order.
  std::size_t runGlobalTasks();
  std::size_t pendingGlobalTasks() const;
  // The quality of service of every global call so far, in call order.
  std::vector<platform::QualityOfService> globalCalls() const;

  // Timers.
  std::vector<std::chrono::milliseconds> timerIntervals() const;
  // Moves the virtual time forward and ticks each timer for every interval
  // that ends within it, in time order (skipped while modal). Returns the
  // ticks run.
  std::size_t tickTimersFor(std::chrono::milliseconds duration);

 private:
  struct MainItem {
    Task task;
    std::shared_ptr<platform::posix::SyncWaiter> waiter;
  };
  struct Timer {
    std::chrono::milliseconds interval;
    std::chrono::milliseconds nextDue;  // virtual time
    std::shared_ptr<Task> tick;
  };

  const std::thread::id mainThread_;
  const GlobalMode mode_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // main queue grew or a global task ended
  std::deque<MainItem> mainQueue_;
  std::deque<Task> queuedGlobals_;
  std::vector<platform::QualityOfService> globalCalls_;
  std::vector<std::thread> threads_;
  std::size_t runningGlobals_ = 0;
  std::vector<Timer> timers_;
  std::chrono::milliseconds virtualNow_{0};
  int modalDepth_ = 0;
  bool shuttingDown_ = false;
};

}  // namespace quillory::testing
