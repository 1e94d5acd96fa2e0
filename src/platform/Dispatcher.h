#pragma once
// Queues and timers: the main queue, the global queues and main-loop timers.
//
// Contract:
// - `async` runs the task later on the main thread, never inside the call,
//   also when called on the main thread. Tasks run in submission order.
// - `sync` runs the task on the main thread and returns when it has run. Called
//   on the main thread it runs the task directly. The main thread never calls
//   it to wait for another thread.
// - `global` runs the task on a worker thread of the given quality of service;
//   tasks on global queues may run concurrently with each other.
// - `repeatOnMain` starts a repeating timer on the main thread: the first tick
//   comes one interval after the call. Ticks are skipped while a modal alert
//   is open (`modalDepth() > 0`): they neither fire then nor queue up.
// - `enterModal`/`exitModal` bracket a modal alert; alert presenters call them.
//   `modalDepth` is the number of alerts open now (nested ones count each).
// - `isMainThread` tells whether the caller is on the main thread.
// Tasks that still wait when the dispatcher is destroyed are dropped.
//
// Threading: every member may be called from any thread.

#include <chrono>
#include <functional>

namespace quillory::platform {

enum class QualityOfService { userInitiated, utility, background };

class Dispatcher {
 public:
  using Task = std::function<void()>;
  virtual ~Dispatcher() = default;

  virtual void async(Task task) = 0;
  virtual void sync(Task task) = 0;
  virtual void global(QualityOfService qos, Task task) = 0;
  virtual void repeatOnMain(std::chrono::milliseconds interval, Task tick) = 0;
  virtual bool isMainThread() const = 0;

  virtual void enterModal() = 0;
  virtual void exitModal() = 0;
  virtual int modalDepth() const = 0;
};

// Marks a modal alert for as long as it lives.
class ModalScope {
 public:
  explicit ModalScope(Dispatcher& dispatcher) : dispatcher_(dispatcher) { dispatcher_.enterModal(); }
  ~ModalScope() { dispatcher_.exitModal(); }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  Dispatcher& dispatcher_;
};

}  // namespace quillory::platform
