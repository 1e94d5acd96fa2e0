#pragma once
// The dispatcher on the Qt event loop.
//
// - The main queue is a queue of tasks of our own; a byte written to a pipe
//   that a `QSocketNotifier` watches on the main thread wakes the event loop,
//   which then runs the tasks in submission order. Tasks never travel inside
//   Qt's cross-thread events, so every hand-over between threads goes through
//   a mutex or the pipe, which ThreadSanitizer understands.
// - `sync` from another thread queues the task and waits until it has run;
//   on the main thread it runs the task directly.
// - The global queues are the elastic worker pools per quality of service of
//   `posix::WorkerPools`: a task that waits for another queued task, even one
//   of another queue, never starves it.
// - Timers are `QTimer`s on the main thread whose ticks are skipped while an
//   alert is open: while the modal depth is above zero or Qt has an active
//   modal widget.
//
// Construct it on the main thread after the application object. Destruction
// drops the main tasks still waiting (a `sync` whose task is dropped returns
// without running it), stops the timers and joins the workers.
//
// Threading: every Dispatcher member from any thread.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Dispatcher.h"
#include "platform/posix/OwnedFd.h"
#include "platform/posix/SyncWaiter.h"
#include "platform/posix/WorkerPools.h"

class QObject;
class QSocketNotifier;

namespace quillory::platform::qt {

class QtDispatcher final : public Dispatcher {
 public:
  QtDispatcher();
  ~QtDispatcher() override;
  QtDispatcher(const QtDispatcher&) = delete;
  QtDispatcher& operator=(const QtDispatcher&) = delete;

  void async(Task task) override;
  void sync(Task task) override;
  void global(QualityOfService qos, Task task) override;
  void repeatOnMain(std::chrono::milliseconds interval, Task tick) override;
  bool isMainThread() const override;
  void enterModal() override;
  void exitModal() override;
  int modalDepth() const override { return modalDepth_.load(); }

 private:
  struct Item {
    Task task;
    std::shared_ptr<posix::SyncWaiter> waiter;
  };

  bool enqueue(Item item);
  void runQueued();
  void startTimer(std::chrono::milliseconds interval, Task tick);
  bool timersHeld() const;

  const std::thread::id mainThread_;
  std::atomic<int> modalDepth_{0};

  std::mutex mutex_;
  std::deque<Item> queue_;
  bool wakePending_ = false;
  bool shuttingDown_ = false;
  posix::OwnedFd wakeRead_;
  posix::OwnedFd wakeWrite_;

  std::unique_ptr<QObject> timerOwner_;
  std::unique_ptr<QSocketNotifier> notifier_;
  posix::WorkerPools workers_;
};

}  // namespace quillory::platform::qt
