#include "support/ManualDispatcher.h"

#include <algorithm>
#include <chrono>

namespace quillory::testing {

using platform::QualityOfService;

ManualDispatcher::ManualDispatcher(GlobalMode mode) : mainThread_(std::this_thread::get_id()), mode_(mode) {}

ManualDispatcher::~ManualDispatcher() {
  std::deque<MainItem> dropped;
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;  // nothing is queued or started from here on
    dropped.swap(mainQueue_);
    threads.swap(threads_);
  }
  // Release sync callers whose task will never run, so their threads end.
  for (auto& item : dropped) {
    if (item.waiter) item.waiter->release();
  }
  dropped.clear();  // destroy the tasks without the lock
  for (auto& thread : threads) thread.join();
}

void ManualDispatcher::async(Task task) {
  std::lock_guard lock(mutex_);
  if (shuttingDown_) return;
  mainQueue_.push_back(MainItem{std::move(task), nullptr});
  changed_.notify_all();
}

void ManualDispatcher::sync(Task task) {
  if (isMainThread()) {
    task();
    return;
  }
  auto waiter = std::make_shared<platform::posix::SyncWaiter>();
  {
    std::lock_guard lock(mutex_);
    if (shuttingDown_) return;
    mainQueue_.push_back(MainItem{std::move(task), waiter});
    changed_.notify_all();
  }
  waiter->wait();
}

void ManualDispatcher::global(QualityOfService qos, Task task) {
  std::lock_guard lock(mutex_);
  if (shuttingDown_) return;
  globalCalls_.push_back(qos);
  if (mode_ == GlobalMode::queued) {
    queuedGlobals_.push_back(std::move(task));
    return;
  }
  // Each task on a thread of its own; threads are joined at destruction.
  ++runningGlobals_;
  threads_.emplace_back([this, task = std::move(task)]() mutable {
    task();
    task = nullptr;  // release captures before announcing the end
    std::lock_guard done(mutex_);
    --runningGlobals_;
    changed_.notify_all();
  });
}

void ManualDispatcher::repeatOnMain(std::chrono::milliseconds interval, Task tick) {
  std::lock_guard lock(mutex_);
  if (shuttingDown_) return;
  timers_.push_back(Timer{interval, virtualNow_ + interval, std::make_shared<Task>(std::move(tick))});
}

bool ManualDispatcher::isMainThread() const { return std::this_thread::get_id() == mainThread_; }

void ManualDispatcher::enterModal() {
  std::lock_guard lock(mutex_);
  ++modalDepth_;
}

void ManualDispatcher::exitModal() {
  std::lock_guard lock(mutex_);
  if (modalDepth_ > 0) --modalDepth_;
}

int ManualDispatcher::modalDepth() const {
  std::lock_guard lock(mutex_);
  return modalDepth_;
}

std::size_t ManualDispatcher::runMainUntilIdle() {
  for (std::size_t ran = 0;; ++ran) {
    MainItem item;
    {
      std::lock_guard lock(mutex_);
      if (mainQueue_.empty()) return ran;
      item = std::move(mainQueue_.front());
      mainQueue_.pop_front();
    }
    if (item.task) item.task();
    item.task = nullptr;
    if (item.waiter) item.waiter->release();
  }
}

bool ManualDispatcher::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    runMainUntilIdle();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::unique_lock lock(mutex_);
    // Wakes on new main work or an ending global task; the short step also
    // covers conditions that change without telling the dispatcher.
    changed_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !mainQueue_.empty(); });
  }
}

bool ManualDispatcher::drain(std::chrono::milliseconds timeout) {
  return pumpUntil(
      [&] {
        std::lock_guard lock(mutex_);
        return runningGlobals_ == 0 && mainQueue_.empty() && queuedGlobals_.empty();
      },
      timeout);
}

std::size_t ManualDispatcher::runningGlobalTasks() const {
  std::lock_guard lock(mutex_);
  return runningGlobals_;
}

std::size_t ManualDispatcher::runGlobalTasks() {
  std::size_t ran = 0;
  while (true) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (queuedGlobals_.empty()) return ran;
      task = std::move(queuedGlobals_.front());
      queuedGlobals_.pop_front();
    }
    task();
    ++ran;
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

std::vector<std::chrono::milliseconds> ManualDispatcher::timerIntervals() const {
  std::lock_guard lock(mutex_);
  std::vector<std::chrono::milliseconds> result;
  for (const auto& timer : timers_) result.push_back(timer.interval);
  return result;
}

std::size_t ManualDispatcher::tickTimersFor(std::chrono::milliseconds duration) {
  std::size_t ran = 0;
  std::chrono::milliseconds target;
  {
    std::lock_guard lock(mutex_);
    target = virtualNow_ + std::max(duration, duration.zero());
  }
  while (true) {
    std::shared_ptr<Task> tick;
    bool modal = false;
    {
      std::lock_guard lock(mutex_);
      Timer* next = nullptr;
      for (auto& timer : timers_) {
        if (timer.interval <= timer.interval.zero())
          continue;  // a timer without a positive interval never ticks
        if (timer.nextDue <= target && (next == nullptr || timer.nextDue < next->nextDue)) next = &timer;
      }
      if (next == nullptr) {
        virtualNow_ = target;
        return ran;
      }
      virtualNow_ = next->nextDue;
      next->nextDue += next->interval;
      tick = next->tick;
      modal = modalDepth_ > 0;
    }
    if (modal) continue;  // skipped, not queued
    (*tick)();
    ++ran;
  }
}

}  // namespace quillory::testing
