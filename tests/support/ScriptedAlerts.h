#pragma once
// Alerts answered from a script, for tests. Each `run` records the alert and
// returns the next queued answer (a button index), or 0 (the first button)
// when the queue is empty. With a dispatcher, `run` brackets the alert with a
// `ModalScope` like a real presenter, and fails the test when it is not called
// on the dispatcher's main thread. Thread-safe.

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/AlertPresenter.h"
#include "platform/Dispatcher.h"

namespace quillory::testing {

class ScriptedAlerts final : public platform::AlertPresenter {
 public:
  explicit ScriptedAlerts(platform::Dispatcher* dispatcher = nullptr) : dispatcher_(dispatcher) {}

  int run(const platform::Alert& alert) override {
    if (dispatcher_ != nullptr && !dispatcher_->isMainThread())
      ADD_FAILURE() << "an alert off the main thread";
    std::optional<platform::ModalScope> modal;
    if (dispatcher_ != nullptr) modal.emplace(*dispatcher_);
    std::unique_lock lock(mutex_);
    shown_.push_back(alert);
    const int answer = answers_.empty() ? 0 : answers_.front();
    if (!answers_.empty()) answers_.pop_front();
    const auto whileOpen = whileOpen_;
    lock.unlock();
    if (whileOpen) whileOpen(alert);
    return answer;
  }

  void queueAnswer(int buttonIndex) {
    std::lock_guard lock(mutex_);
    answers_.push_back(buttonIndex);
  }
  // Called inside `run` while the alert is "open" (after the modal scope is
  // entered), for tests of what happens meanwhile.
  void setWhileOpen(std::function<void(const platform::Alert&)> whileOpen) {
    std::lock_guard lock(mutex_);
    whileOpen_ = std::move(whileOpen);
  }
  std::vector<platform::Alert> shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  platform::Dispatcher* const dispatcher_;
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::function<void(const platform::Alert&)> whileOpen_;
  std::vector<platform::Alert> shown_;
};

}  // namespace quillory::testing
