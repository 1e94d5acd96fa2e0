#include "platform/posix/RunLoopDispatcher.h"

#include <algorithm>

namespace quillory::platform::posix {

namespace {

constexpr std::chrono::milliseconds kDonePollInterval{5};

std::chrono::nanoseconds toDuration(double seconds) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
}

}  // namespace

struct RunLoopDispatcher::SyncState {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;

  void release() {
    std::lock_guard lock(mutex);
    done = true;
    cv.notify_all();
  }
};

RunLoopDispatcher::RunLoopDispatcher(double workerIdleSeconds)
    : mainThread_(std::this_thread::get_id()), workerIdleSeconds_(workerIdleSeconds) {}

RunLoopDispatcher::~RunLoopDispatcher() {
  std::deque<MainItem> dropped;
  std::vector<Timer> timers;
  {
    std::lock_guard lock(mainMutex_);
    shuttingDown_ = true;
    stopRequested_ = true;
    dropped.swap(mainQueue_);
    timers.swap(timers_);
  }
  for (auto& item : dropped) {
    if (item.waiter) item.waiter->release();
  }
  for (Pool& pool : pools_) {
    std::deque<Task> tasks;
    {
      std::lock_guard lock(pool.mutex);
      pool.shutdown = true;
      tasks.swap(pool.tasks);
      pool.wake.notify_all();
    }
  }
  // Running tasks may still queue main work or wait in `sync`; both return at
  // once now. Join every worker, then drop anything queued meanwhile.
  for (Pool& pool : pools_) {
    std::list<Worker> workers;
    {
      std::lock_guard lock(pool.mutex);
      workers.swap(pool.workers);
    }
    for (Worker& worker : workers) worker.thread.join();
  }
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
  auto waiter = std::make_shared<SyncState>();
  {
    std::lock_guard lock(mainMutex_);
    if (shuttingDown_) return;
    mainQueue_.push_back(MainItem{std::move(task), waiter});
    mainWake_.notify_all();
  }
  std::unique_lock lock(waiter->mutex);
  waiter->cv.wait(lock, [&] { return waiter->done; });
}

RunLoopDispatcher::Pool& RunLoopDispatcher::poolFor(QualityOfService qos) {
  switch (qos) {
    case QualityOfService::userInitiated:
      return pools_[0];
    case QualityOfService::utility:
      return pools_[1];
    case QualityOfService::background:
      break;
  }
  return pools_[2];
}

void RunLoopDispatcher::global(QualityOfService qos, Task task) {
  Pool& pool = poolFor(qos);
  joinFinished(pool);
  std::lock_guard lock(pool.mutex);
  if (pool.shutdown) return;
  pool.tasks.push_back(std::move(task));
  // Every waiting task needs a worker of its own: a task may block until
  // another queued task has run.
  if (pool.tasks.size() <= pool.idle) {
    pool.wake.notify_one();
    return;
  }
  Worker& worker = pool.workers.emplace_back();
  worker.thread = std::thread([this, &pool, &worker] { workerLoop(pool, worker); });
}

void RunLoopDispatcher::joinFinished(Pool& pool) {
  std::list<Worker> finished;
  {
    std::lock_guard lock(pool.mutex);
    for (auto it = pool.workers.begin(); it != pool.workers.end();) {
      auto next = std::next(it);
      if (it->finished) finished.splice(finished.end(), pool.workers, it);
      it = next;
    }
  }
  for (Worker& worker : finished) worker.thread.join();
}

void RunLoopDispatcher::workerLoop(Pool& pool, Worker& self) {
  std::unique_lock lock(pool.mutex);
  while (true) {
    if (!pool.tasks.empty()) {
      Task task = std::move(pool.tasks.front());
      pool.tasks.pop_front();
      lock.unlock();
      task();
      task = nullptr;  // captures die on the worker, outside the lock
      lock.lock();
      continue;
    }
    if (pool.shutdown) break;
    ++pool.idle;
    const bool woke = pool.wake.wait_for(lock, toDuration(workerIdleSeconds_),
                                         [&] { return !pool.tasks.empty() || pool.shutdown; });
    --pool.idle;
    if (!woke) break;  // idle too long
  }
  self.finished = true;
}

void RunLoopDispatcher::repeatOnMain(double intervalSeconds, Task tick) {
  // A timer needs a positive interval; anything else would spin the loop.
  const auto interval =
      std::max(toDuration(intervalSeconds), std::chrono::nanoseconds(std::chrono::milliseconds(1)));
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

void RunLoopDispatcher::run() { loop({}, std::nullopt); }

void RunLoopDispatcher::stop() {
  std::lock_guard lock(mainMutex_);
  stopRequested_ = true;
  mainWake_.notify_all();
}

bool RunLoopDispatcher::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  return loop(done, std::chrono::steady_clock::now() + toDuration(std::max(0.0, timeoutSeconds)));
}

bool RunLoopDispatcher::loop(const std::function<bool()>& done, std::optional<SteadyTime> deadline) {
  auto finished = [&] { return done && done(); };
  while (true) {
    if (finished()) return true;
    std::shared_ptr<Task> tick;
    MainItem item;
    {
      std::unique_lock lock(mainMutex_);
      while (true) {
        if (stopRequested_) {
          if (!shuttingDown_) stopRequested_ = false;
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
        if (deadline && now >= *deadline) {
          lock.unlock();
          return finished();
        }
        std::optional<SteadyTime> wakeAt = deadline;
        // Other threads may make `done` true without queueing anything: look
        // again every few milliseconds.
        if (done) wakeAt = std::min(wakeAt.value_or(SteadyTime::max()), now + kDonePollInterval);
        for (const Timer& timer : timers_) {
          if (!wakeAt || timer.due < *wakeAt) wakeAt = timer.due;
        }
        if (wakeAt) {
          mainWake_.wait_until(lock, *wakeAt);
        } else {
          mainWake_.wait(lock);
        }
        if (done) break;  // test `done` again before going on
      }
    }
    if (tick) {
      (*tick)();
    } else {
      if (item.task) item.task();
      item.task = nullptr;
      if (item.waiter) item.waiter->release();
    }
  }
}

std::size_t RunLoopDispatcher::workerCount() const {
  std::size_t count = 0;
  for (Pool& pool : pools_) {
    std::lock_guard lock(pool.mutex);
    count += static_cast<std::size_t>(
        std::count_if(pool.workers.begin(), pool.workers.end(), [](const Worker& w) { return !w.finished; }));
  }
  return count;
}

}  // namespace quillory::platform::posix
