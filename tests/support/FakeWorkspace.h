#pragma once
// A workspace the test drives: it sets the running applications and calls
// `activate`/`terminate`, which call the registered observers on the calling
// thread (tests call them on their main thread). Thread-safe.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Workspace.h"

namespace quillory::testing {

class FakeWorkspace final : public platform::Workspace {
 public:
  std::vector<std::optional<std::string>> runningBundleIdentifiers() const override {
    std::lock_guard lock(mutex_);
    return running_;
  }
  void observeActivation(Observer observer) override {
    std::lock_guard lock(mutex_);
    activation_.push_back(std::move(observer));
  }
  void observeTermination(Observer observer) override {
    std::lock_guard lock(mutex_);
    termination_.push_back(std::move(observer));
  }

  void setRunning(std::vector<std::optional<std::string>> running) {
    std::lock_guard lock(mutex_);
    running_ = std::move(running);
  }
  // Adds the application to the running list / removes every entry of it.
  void launch(const std::string& bundleIdentifier) {
    std::lock_guard lock(mutex_);
    running_.push_back(bundleIdentifier);
  }
  void quit(const std::string& bundleIdentifier) {
    std::lock_guard lock(mutex_);
    std::erase(running_, std::optional<std::string>(bundleIdentifier));
  }

  // Notify the observers. `terminate` does not change the running list; use
  // `quit` first when the application should also be gone.
  void activate(const std::optional<std::string>& bundleIdentifier) { notify(activation_, bundleIdentifier); }
  void terminate(const std::optional<std::string>& bundleIdentifier) {
    notify(termination_, bundleIdentifier);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::optional<std::string>> running_;
  std::vector<Observer> activation_, termination_;

  // Calls a copy of the observers without the lock, so an observer may use
  // the workspace.
  void notify(const std::vector<Observer>& observers, const std::optional<std::string>& bundleIdentifier) {
    std::unique_lock lock(mutex_);
    const std::vector<Observer> copy = observers;
    lock.unlock();
    for (const auto& observer : copy) observer(bundleIdentifier);
  }
};

}  // namespace quillory::testing
