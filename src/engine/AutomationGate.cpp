#include "engine/AutomationGate.h"

#include <utility>

#include "platform/AutomationPermission.h"
#include "platform/Log.h"

namespace quillory::engine {

AutomationGate::AutomationGate(platform::AutomationPermission& permission, platform::Log& log,
                               std::string bundleIdentifier)
    : permission_(permission), log_(log), bundleIdentifier_(std::move(bundleIdentifier)) {}

AutomationGate::Admission AutomationGate::admit() {
  {
    std::unique_lock lock(mutex_);
    if (state_ == State::granted) return Admission::granted;
    if (state_ == State::asking) {
      const bool say = !std::exchange(waitSaid_, true);
      lock.unlock();
      if (say) {
        log_.line(
            "[Helper] \u23ED Not syncing until Quillory Helper may control Kettle Ledger \u2014 answer the "
            "system's question, or see System Settings \u203A Privacy & Security \u203A Automation");
      }
      return Admission::pending;
    }
    state_ = State::asking;
  }
  // No lock held while the user is asked.
  const platform::AutomationConsent consent = permission_.request(bundleIdentifier_);
  std::lock_guard lock(mutex_);
  state_ = consent == platform::AutomationConsent::granted ? State::granted : State::unasked;
  waitSaid_ = false;
  return consent == platform::AutomationConsent::refused ? Admission::refused : Admission::granted;
}

void AutomationGate::scriptRefused() {
  std::lock_guard lock(mutex_);
  if (state_ == State::granted) state_ = State::unasked;
}

}  // namespace quillory::engine
