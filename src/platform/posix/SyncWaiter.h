#pragma once
// What a `sync` caller off the main thread waits on: the main thread releases
// it once the task has run, or when it drops the task at shutdown.
//
// Threading: `release` and `wait` from any thread; shared by both sides.

#include <condition_variable>
#include <mutex>

namespace quillory::platform::posix {

class SyncWaiter {
 public:
  void release() {
    std::lock_guard lock(mutex_);
    done_ = true;
    released_.notify_all();
  }

  void wait() {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] { return done_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool done_ = false;
};

}  // namespace quillory::platform::posix
