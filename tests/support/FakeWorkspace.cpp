#include "support/FakeWorkspace.h"

#include <algorithm>

namespace quillory::testing {

std::vector<std::optional<std::string>> FakeWorkspace::runningBundleIdentifiers() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void FakeWorkspace::observeActivation(Observer observer) {
  std::lock_guard lock(mutex_);
  activation_.push_back(std::move(observer));
}

void FakeWorkspace::observeTermination(Observer observer) {
  std::lock_guard lock(mutex_);
  termination_.push_back(std::move(observer));
}

void FakeWorkspace::setRunning(std::vector<std::optional<std::string>> running) {
  std::lock_guard lock(mutex_);
  running_ = std::move(running);
}

void FakeWorkspace::launch(const std::string& bundleIdentifier) {
  std::lock_guard lock(mutex_);
  running_.push_back(bundleIdentifier);
}

void FakeWorkspace::quit(const std::string& bundleIdentifier) {
  std::lock_guard lock(mutex_);
  std::erase(running_, std::optional<std::string>(bundleIdentifier));
}

void FakeWorkspace::activate(const std::optional<std::string>& bundleIdentifier) {
  notify(activation_, bundleIdentifier);
}

void FakeWorkspace::terminate(const std::optional<std::string>& bundleIdentifier) {
  notify(termination_, bundleIdentifier);
}

void FakeWorkspace::notify(const std::vector<Observer>& observers,
                           const std::optional<std::string>& bundleIdentifier) {
  std::unique_lock lock(mutex_);
  const std::vector<Observer> copy = observers;
  lock.unlock();
  for (const auto& observer : copy) observer(bundleIdentifier);
}

}  // namespace quillory::testing
