#include "support/FakeWorkspace.h"

#include <algorithm>

namespace quillory::testing {

std::vector<std::optional<std::string>> FakeWorkspace::runningBundleIdentifiers() const {
  std::lock_guard lock(mutex_);
  ++queries_;
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
  std::vector<Observer> observers;
  {
    std::lock_guard lock(mutex_);
    observers = activation_;
  }
  // Called without the lock, so an observer may use the workspace.
  for (const auto& observer : observers) observer(bundleIdentifier);
}

void FakeWorkspace::terminate(const std::optional<std::string>& bundleIdentifier) {
  std::vector<Observer> observers;
  {
    std::lock_guard lock(mutex_);
    observers = termination_;
  }
  for (const auto& observer : observers) observer(bundleIdentifier);
}

std::size_t FakeWorkspace::activationObserverCount() const {
  std::lock_guard lock(mutex_);
  return activation_.size();
}

std::size_t FakeWorkspace::terminationObserverCount() const {
  std::lock_guard lock(mutex_);
  return termination_.size();
}

std::size_t FakeWorkspace::runningQueries() const {
  std::lock_guard lock(mutex_);
  return queries_;
}

}  // namespace quillory::testing
