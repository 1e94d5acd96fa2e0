#include "support/ManualDispatcher.h"

#include <algorithm>

namespace quillory::testing {

using platform::QualityOfService;

ManualDispatcher::Task ManualDispatcher::counted(Task task) {
  ++waitingMain_;
  return [this, task = std::move(task)] {
    task();
    --waitingMain_;
  };
}

void ManualDispatcher::global(QualityOfService qos, Task task) {
  {
    std::lock_guard lock(mutex_);
    globalCalls_.push_back(qos);
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

void ManualDispatcher::repeatOnMain(std::chrono::milliseconds interval, Task tick) {
  if (interval <= interval.zero()) return;  // a timer without a positive interval never ticks
  std::lock_guard lock(mutex_);
  timers_.push_back(Timer{interval, virtualNow_ + interval, std::make_shared<Task>(std::move(tick))});
}

bool ManualDispatcher::drain(std::chrono::milliseconds timeout) {
  // Running globals first: one that queues main work and ends is seen either
  // still running or with its work waiting.
  return pumpUntil([&] { return runningGlobals_ == 0 && waitingMain_ == 0; }, timeout);
}

std::size_t ManualDispatcher::runGlobalTasks() {
  for (std::size_t ran = 0;; ++ran) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (queuedGlobals_.empty()) return ran;
      task = std::move(queuedGlobals_.front());
      queuedGlobals_.pop_front();
    }
    task();
  }
}

std::size_t ManualDispatcher::pendingGlobalTasks() const {
  std::lock_guard lock(mutex_);
  return queuedGlobals_.size();
}

std::vector<QualityOfService> ManualDispatcher::globalCalls() const {
  std::lock_guard lock(mutex_);
  return globalCalls_;
}

std::size_t ManualDispatcher::tickTimersFor(std::chrono::milliseconds duration) {
  std::size_t ran = 0;
  std::unique_lock lock(mutex_);
  const auto target = virtualNow_ + std::max(duration, duration.zero());
  while (true) {
    auto next = std::min_element(timers_.begin(), timers_.end(),
                                 [](const Timer& a, const Timer& b) { return a.nextDue < b.nextDue; });
    if (next == timers_.end() || next->nextDue > target) break;
    virtualNow_ = next->nextDue;
    next->nextDue += next->interval;
    const std::shared_ptr<Task> tick = next->tick;
    lock.unlock();
    if (modalDepth() == 0) {  // skipped, not queued, while modal
      (*tick)();
      ++ran;
    }
    lock.lock();
  }
  virtualNow_ = target;
  return ran;
}

}  // namespace quillory::testing
