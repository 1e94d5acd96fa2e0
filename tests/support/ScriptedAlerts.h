#pragma once
// Alerts answered from a script, for tests. Each `run` records the alert and
// returns the next queued answer (a button index), or 0 (the first button)
// when the queue is empty. With a dispatcher, `run` brackets the alert with a
// `ModalScope` like a real presenter, and fails the test when it is not called
// on the dispatcher's main thread. Thread-safe.

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/AlertPresenter.h"
#include "platform/Dispatcher.h"

namespace quillory::testing {

class ScriptedAlerts final : public platform::AlertPresenter {
 public:
  explicit ScriptedAlerts(platform::Dispatcher* dispatcher = nullptr) : dispatcher_(dispatcher) {}

  int run(const platform::Alert& alert) override;

  void queueAnswer(int buttonIndex);
  // Called inside `run` while the alert is "open" (after the modal scope is
  // entered), for tests of what happens meanwhile.
  void setWhileOpen(std::function<void(const platform::Alert&)> whileOpen);

  std::vector<platform::Alert> shown() const;

 private:
  platform::Dispatcher* const dispatcher_;
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::function<void(const platform::Alert&)> whileOpen_;
  std::vector<platform::Alert> shown_;
};

}  // namespace quillory::testing
