#include "platform/posix/RunLoopDispatcher.h"

#include <algorithm>

namespace quillory::platform::posix {

namespace {

constexpr std::chrono::milliseconds kDonePollInterval{5};

}  // namespace

RunLoopDispatcher::RunLoopDispatcher() : mainThread_(std::this_thread::get_id()) {}

RunLoopDispatcher::~RunLoopDispatcher() {
  std::deque<MainItem> dropped;
  std::vector<Timer> timers;
  {
    std::lock_guard lock(mainMutex_);
    shuttingDown_ = true;
    dropped.swap(mainQueue_);
    timers.swap(timers_);
  }
  for (auto& item : dropped) {
    if (item.waiter) item.waiter->release();
  }
  // Running tasks may still queue main work or wait in `sync`; both return at
  // once now. Join every worker, then drop anything queued meanwhile.
  workers_.shutdown();
  std::lock_guard lock(mainMutex_);
  for (auto& item : mainQueue_) {
    if (item.waiter) item.waiter->release();
  }
  mainQueue_.clear();
}

void RunLoopDispatcher::async(Task task) {
  std::lock_guard lock(mainMutex_);
  if (shuttingDown_) return;
  mainQueue_.push_back(MainItem{std::move(task), nullptr});
  mainWake_.notify_all();
}

void RunLoopDispatcher::sync(Task task) {
  if (isMainThread()) {
    task();
    return;
  }
  auto waiter = std::make_shared<SyncWaiter>();
  {
    std::lock_guard lock(mainMutex_);
    if (shuttingDown_) return;
    mainQueue_.push_back(MainItem{std::move(task), waiter});
    mainWake_.notify_all();
  }
  waiter->wait();
}

void RunLoopDispatcher::global(QualityOfService qos, Task task) { workers_.submit(qos, std::move(task)); }

void RunLoopDispatcher::repeatOnMain(std::chrono::milliseconds interval, Task tick) {
  // A timer needs a positive interval; anything else would spin the loop.
  interval = std::max(interval, std::chrono::milliseconds(1));
  std::lock_guard lock(mainMutex_);
  if (shuttingDown_) return;
  timers_.push_back(
      Timer{interval, std::chrono::steady_clock::now() + interval, std::make_shared<Task>(std::move(tick))});
  mainWake_.notify_all();
}

bool RunLoopDispatcher::isMainThread() const { return std::this_thread::get_id() == mainThread_; }

void RunLoopDispatcher::enterModal() {
  std::lock_guard lock(mainMutex_);
  ++modalDepth_;
}

void RunLoopDispatcher::exitModal() {
  std::lock_guard lock(mainMutex_);
  if (modalDepth_ > 0) --modalDepth_;
}

int RunLoopDispatcher::modalDepth() const {
  std::lock_guard lock(mainMutex_);
  return modalDepth_;
}

bool RunLoopDispatcher::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const SteadyTime deadline = std::chrono::steady_clock::now() + std::max(timeout, timeout.zero());
  auto finished = [&] { return done && done(); };
  while (true) {
    if (finished()) return true;
    std::shared_ptr<Task> tick;
    MainItem item;
    {
      std::unique_lock lock(mainMutex_);
      while (true) {
        if (shuttingDown_) {
          lock.unlock();
          return finished();
        }
        const auto now = std::chrono::steady_clock::now();
        // A due timer first, so a busy queue cannot starve the timers.
        Timer* due = nullptr;
        for (Timer& timer : timers_) {
          if (timer.due <= now && (due == nullptr || timer.due < due->due)) due = &timer;
        }
        if (due != nullptr) {
          // Ticks missed while the loop was busy are not made up for.
          due->due += due->interval;
          if (due->due <= now) due->due = now + due->interval;
          if (modalDepth_ == 0) {
            tick = due->tick;
            break;
          }
          continue;  // skipped while a modal alert is open
        }
        if (!mainQueue_.empty()) {
          item = std::move(mainQueue_.front());
          mainQueue_.pop_front();
          break;
        }
        if (now >= deadline) {
          lock.unlock();
          return finished();
        }
        SteadyTime wakeAt = deadline;
        // Other threads may make `done` true without queueing anything: look
        // again every few milliseconds.
        if (done) wakeAt = std::min(wakeAt, now + kDonePollInterval);
        for (const Timer& timer : timers_) wakeAt = std::min(wakeAt, timer.due);
        mainWake_.wait_until(lock, wakeAt);
        if (done) break;  // test `done` again before going on
      }
    }
    if (tick) {
      (*tick)();
    } else {
      // The task goes before its `sync` caller is released, also when it
      // throws (the exception goes on to the caller of runUntil).
      const auto finish = [&item] {
        item.task = nullptr;
        if (item.waiter) item.waiter->release();
      };
      try {
        if (item.task) item.task();
      } catch (...) {
        finish();
        throw;
      }
      finish();
    }
  }
}

bool RunLoopDispatcher::settled() const { return workers_.settled(); }

}  // namespace quillory::platform::posix
