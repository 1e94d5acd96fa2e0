#include "platform/posix/WorkerPools.h"

#include <algorithm>
#include <chrono>
#include <iterator>

namespace quillory::platform::posix {

WorkerPools::WorkerPools(std::chrono::milliseconds idleTime, std::size_t keptWorkers)
    : idleTime_(idleTime), keptWorkers_(keptWorkers) {}

WorkerPools::~WorkerPools() { shutdown(); }

WorkerPools::Pool& WorkerPools::poolFor(QualityOfService qos) {
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

void WorkerPools::submit(QualityOfService qos, Dispatcher::Task task) {
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
  ++pool.alive;
  worker.thread = std::thread([this, &pool, &worker] { workerLoop(pool, worker); });
}

void WorkerPools::shutdown() {
  for (Pool& pool : pools_) {
    std::deque<Dispatcher::Task> tasks;  // dropped outside the lock
    {
      std::lock_guard lock(pool.mutex);
      pool.shutdown = true;
      tasks.swap(pool.tasks);
      pool.wake.notify_all();
    }
  }
  // Every pool refuses tasks before any worker is joined, so a running task
  // cannot start new work on another pool meanwhile.
  for (Pool& pool : pools_) {
    std::list<Worker> workers;
    {
      std::lock_guard lock(pool.mutex);
      workers.swap(pool.workers);
    }
    for (Worker& worker : workers) worker.thread.join();
  }
}

void WorkerPools::joinFinished(Pool& pool) {
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

void WorkerPools::workerLoop(Pool& pool, Worker& self) {
  std::unique_lock lock(pool.mutex);
  while (true) {
    if (!pool.tasks.empty()) {
      Dispatcher::Task task = std::move(pool.tasks.front());
      pool.tasks.pop_front();
      lock.unlock();
      task();
      task = nullptr;  // captures die on the worker, outside the lock
      lock.lock();
      continue;
    }
    if (pool.shutdown) break;
    ++pool.idle;
    const auto ready = [&] { return !pool.tasks.empty() || pool.shutdown; };
    bool woke = pool.wake.wait_for(lock, idleTime_, ready);
    if (!woke && pool.alive <= keptWorkers_) {
      pool.wake.wait(lock, ready);  // one of the kept workers
      woke = true;
    }
    --pool.idle;
    if (!woke) break;  // idle too long
  }
  --pool.alive;
  self.finished = true;
}

std::size_t WorkerPools::workerCount() const {
  std::size_t count = 0;
  for (Pool& pool : pools_) {
    std::lock_guard lock(pool.mutex);
    count += static_cast<std::size_t>(
        std::count_if(pool.workers.begin(), pool.workers.end(), [](const Worker& w) { return !w.finished; }));
  }
  return count;
}

bool WorkerPools::settled() const {
  for (Pool& pool : pools_) {
    std::lock_guard lock(pool.mutex);
    if (!pool.tasks.empty() || pool.idle != pool.alive || pool.alive > keptWorkers_) return false;
  }
  return true;
}

}  // namespace quillory::platform::posix
