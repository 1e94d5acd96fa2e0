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
  // No lock held while the user is asked. The asking state is left on every
  // way out, a request that throws included (the exception goes on to the
  // caller): only a grant is kept, and the next script asks again.
  platform::AutomationConsent consent = platform::AutomationConsent::undetermined;
  struct LeaveAsking {
    AutomationGate& gate;
    const platform::AutomationConsent& consent;
    ~LeaveAsking() {
      std::lock_guard lock(gate.mutex_);
      gate.state_ = consent == platform::AutomationConsent::granted ? State::granted : State::unasked;
      gate.waitSaid_ = false;
    }
  } leave{*this, consent};
  consent = permission_.request(bundleIdentifier_);
  return consent == platform::AutomationConsent::refused ? Admission::refused : Admission::granted;
}

void AutomationGate::scriptRefused() {
  std::lock_guard lock(mutex_);
  if (state_ == State::granted) state_ = State::unasked;
}

}  // namespace quillory::engine
