#include "support/ScriptedAlerts.h"

#include <gtest/gtest.h>

#include <optional>

namespace quillory::testing {

int ScriptedAlerts::run(const platform::Alert& alert) {
  if (dispatcher_ != nullptr && !dispatcher_->isMainThread()) ADD_FAILURE() << "an alert off the main thread";
  std::optional<platform::ModalScope> modal;
  if (dispatcher_ != nullptr) modal.emplace(*dispatcher_);
  int answer = 0;
  std::function<void(const platform::Alert&)> whileOpen;
  {
    std::lock_guard lock(mutex_);
    shown_.push_back(alert);
    answer = answers_.empty() ? 0 : answers_.front();
    if (!answers_.empty()) answers_.pop_front();
    whileOpen = whileOpen_;
  }
  if (whileOpen) whileOpen(alert);
  return answer;
}

void ScriptedAlerts::queueAnswer(int buttonIndex) {
  std::lock_guard lock(mutex_);
  answers_.push_back(buttonIndex);
}

void ScriptedAlerts::setWhileOpen(std::function<void(const platform::Alert&)> whileOpen) {
  std::lock_guard lock(mutex_);
  whileOpen_ = std::move(whileOpen);
}

std::vector<platform::Alert> ScriptedAlerts::shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

}  // namespace quillory::testing
