#pragma once
// Whether a script may be sent to the host now: the permission to control it
// is asked for before the first script after start, and again after a
// refusal. While one call asks (and the user may take minutes to answer),
// every other call is told to wait and sends nothing; the wait is said once
// in the log. An answer that cannot be had (the system failed) lets the
// script run, as without the gate, and the next script asks again; so does
// a request that throws (its exception goes on to the caller).
//
// Threading: any thread but the main thread (asking blocks); calls may
// overlap.

#include <mutex>
#include <string>

namespace quillory::platform {
class AutomationPermission;
class Log;
}  // namespace quillory::platform

namespace quillory::engine {

class AutomationGate {
 public:
  enum class Admission { granted, pending, refused };

  AutomationGate(platform::AutomationPermission& permission, platform::Log& log,
                 std::string bundleIdentifier);

  // Before a script: granted when the permission is held; otherwise asks,
  // unless another call is asking already (pending).
  Admission admit();
  // A script was refused all the same (the user withdrew the permission):
  // the next script asks again.
  void scriptRefused();

 private:
  enum class State { unasked, asking, granted };

  platform::AutomationPermission& permission_;
  platform::Log& log_;
  const std::string bundleIdentifier_;
  std::mutex mutex_;
  State state_ = State::unasked;  // guarded by mutex_
  bool waitSaid_ = false;         // guarded by mutex_; the wait line of this question is written
};

}  // namespace quillory::engine
