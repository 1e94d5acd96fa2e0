#pragma once
// A dispatcher that the test pumps, on top of the run-loop dispatcher. The
// thread that constructs it (the test's own thread) is the main thread.
//
// - `async` and `sync` queue on the run loop's main queue; nothing runs until
//   the test pumps it (`runMainUntilIdle`, `pumpUntil`, `drain`). `sync` on
//   the main thread runs the task directly.
// - `global`, in threads mode (the default), runs the task on the run loop's
//   worker pools; `drain` waits for them while pumping the main queue. In
//   queued mode global tasks are only recorded, and `runGlobalTasks` runs
//   them on the calling thread.
// - Timers are recorded; `tickTimersFor` moves a virtual time forward and
//   ticks each timer once per interval that ends in it. While the modal depth
//   is above zero, ticks are skipped.
//
// The destructor runs nothing more: it drops the queued main tasks (their sync
// callers return without them) and global tasks, and joins every worker.
// Tests drain first when they need the work done.
//
// Threading: the Dispatcher members from any thread; the pumping helpers from
// the main thread only.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/posix/RunLoopDispatcher.h"

namespace quillory::testing {

class ManualDispatcher final : public platform::Dispatcher {
 public:
  enum class GlobalMode { threads, queued };

  explicit ManualDispatcher(GlobalMode mode = GlobalMode::threads) : mode_(mode) {}

  void async(Task task) override { loop_.async(counted(std::move(task))); }
  void sync(Task task) override { loop_.sync(counted(std::move(task))); }
  void global(platform::QualityOfService qos, Task task) override {
    {
      std::lock_guard lock(mutex_);
      ++globalCalls_;
      if (mode_ == GlobalMode::queued) {
        queuedGlobals_.push_back(std::move(task));
        return;
      }
    }
    ++runningGlobals_;
    loop_.global(qos, [this, task = std::move(task)]() mutable {
      task();
      task = nullptr;  // release captures before announcing the end
      --runningGlobals_;
    });
  }
  void repeatOnMain(std::chrono::milliseconds interval, Task tick) override {
    if (interval <= interval.zero()) return;  // a timer without a positive interval never ticks
    std::lock_guard lock(mutex_);
    timers_.push_back(Timer{interval, virtualNow_ + interval, std::make_shared<Task>(std::move(tick))});
  }
  bool isMainThread() const override { return loop_.isMainThread(); }
  void enterModal() override { loop_.enterModal(); }
  void exitModal() override { loop_.exitModal(); }
  int modalDepth() const override { return loop_.modalDepth(); }

  // Main queue: runs what is queued, and what that queues.
  void runMainUntilIdle() { loop_.runUntil(nullptr, std::chrono::milliseconds(0)); }
  // Pumps the main queue until `done` returns true or the time limit passes;
  // returns `done()`.
  bool pumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return loop_.runUntil(done, timeout);
  }
  // Pumps the main queue until nothing is queued on it and no global task
  // runs (or the time limit passes); true when nothing is.
  bool drain(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    // Running globals first: one that queues main work and ends is seen either
    // still running or with its work waiting.
    return pumpUntil([&] { return runningGlobals_ == 0 && waitingMain_ == 0; }, timeout);
  }

  // Global queues, queued mode: run the recorded tasks (and those they queue)
  // on the calling thread, in order.
  std::size_t runGlobalTasks() {
    for (std::size_t ran = 0;; ++ran) {
      std::unique_lock lock(mutex_);
      if (queuedGlobals_.empty()) return ran;
      const Task task = std::move(queuedGlobals_.front());
      queuedGlobals_.pop_front();
      lock.unlock();
      task();
    }
  }
  std::size_t pendingGlobalTasks() const {
    std::lock_guard lock(mutex_);
    return queuedGlobals_.size();
  }
  // The global calls so far.
  std::size_t globalCalls() const { return globalCalls_; }

  // Timers: moves the virtual time forward and ticks each timer for every interval
  // that ends within it, in time order (skipped while modal).
  void tickTimersFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    const auto target = virtualNow_ + std::max(duration, duration.zero());
    while (true) {
      const auto next = std::ranges::min_element(timers_, {}, &Timer::nextDue);
      if (next == timers_.end() || next->nextDue > target) break;
      virtualNow_ = next->nextDue;
      next->nextDue += next->interval;
      const std::shared_ptr<Task> tick = next->tick;
      lock.unlock();
      if (modalDepth() == 0) (*tick)();  // skipped, not queued, while modal
      lock.lock();
    }
    virtualNow_ = target;
  }

 private:
  struct Timer {
    std::chrono::milliseconds interval, nextDue;  // nextDue: virtual time
    std::shared_ptr<Task> tick;
  };

  // The task, counted as waiting on the main queue until it has run.
  Task counted(Task task) {
    ++waitingMain_;
    return [this, task = std::move(task)] {
      task();
      --waitingMain_;
    };
  }

  const GlobalMode mode_;
  std::atomic<std::size_t> waitingMain_{0}, runningGlobals_{0}, globalCalls_{0};
  mutable std::mutex mutex_;
  std::deque<Task> queuedGlobals_;
  std::vector<Timer> timers_;
  std::chrono::milliseconds virtualNow_{0};
  // Last, so it goes first: its workers are joined while the rest still lives.
  platform::posix::RunLoopDispatcher loop_;
};

}  // namespace quillory::testing
