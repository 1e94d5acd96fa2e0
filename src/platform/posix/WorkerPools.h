#pragma once
// The worker threads behind the global queues of a dispatcher: one elastic
// pool per quality of service. A task starts on an idle worker of its pool, or
// on a new worker when none is idle. A worker that stays idle for a few
// seconds ends unless it is one of the first `keptWorkers` of its pool: those
// stay for good, so work that comes back regularly (a check every ten
// seconds and the reader of its script) starts no new thread. A fixed pool
// could deadlock, because a task on one queue may
// wait for a task on another (an export waits for the reader of its script's
// output).
//
// `shutdown` (also run by the destructor) drops the tasks that still wait,
// refuses new ones and joins every worker, so a task running on a worker
// delays it until the task ends. A task still running then may call `submit`;
// what it submits is dropped.
//
// Threading: every member may be called from any thread, but not from a task
// of the pools themselves in the case of `shutdown` and the destructor.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include "platform/Dispatcher.h"

namespace quillory::platform::posix {

class WorkerPools {
 public:
  // How long a worker beyond the kept ones waits for a task before it ends.
  static constexpr std::chrono::milliseconds kIdleTime{5000};
  // Workers per pool that stay while idle.
  static constexpr std::size_t kKeptWorkers = 2;

  explicit WorkerPools(std::chrono::milliseconds idleTime = kIdleTime,
                       std::size_t keptWorkers = kKeptWorkers);
  ~WorkerPools();
  WorkerPools(const WorkerPools&) = delete;
  WorkerPools& operator=(const WorkerPools&) = delete;

  // Runs `task` on a worker of the pool for `qos`; dropped after `shutdown`.
  void submit(QualityOfService qos, Dispatcher::Task task);
  // Drops the waiting tasks, refuses new ones and joins every worker.
  void shutdown();
  // Workers alive right now, all pools together.
  std::size_t workerCount() const;
  // True when no task waits or runs and only the kept workers are left: the
  // pools are as they stay while nothing happens.
  bool settled() const;

 private:
  struct Worker {
    std::thread thread;
    bool finished = false;  // guarded by the pool's mutex
  };
  struct Pool {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Dispatcher::Task> tasks;
    std::list<Worker> workers;
    std::size_t idle = 0;
    std::size_t alive = 0;  // workers that have not finished
    bool shutdown = false;
  };

  void workerLoop(Pool& pool, Worker& self);
  static void joinFinished(Pool& pool);
  Pool& poolFor(QualityOfService qos);

  const std::chrono::milliseconds idleTime_;
  const std::size_t keptWorkers_;
  mutable Pool pools_[3];
};

}  // namespace quillory::platform::posix
