#pragma once
// Runs a JavaScript for Automation script through the system's script
// launcher with a time limit.
//
// Contract: `runScript` starts the executable with the arguments "-l",
// "JavaScript", "-e" and the script text, and returns what the script printed
// on standard output, decoded as UTF-8 and trimmed of white space and
// newlines; the empty string when the launch failed, the output was not valid
// UTF-8, or the script was still running at the time limit (then the child is
// sent the termination request and the time-out line is logged). It never
// throws. Standard error is drained; only its end is kept, to tell an
// authorization refusal.
//
// `run` is the same run reporting, beside that text, whether the launcher
// refused the script because the user has not allowed this program to
// control the host application (osascript's error -1743, "Not authorized to
// send Apple events"). A runner that cannot tell reports no refusal.
//
// Threading: blocks the calling thread for the whole run; never call it on the
// main thread. Calls on several threads may run at once.

#include <string>

namespace quillory::bridge {

struct ScriptResult {
  std::string output;  // what `runScript` returns
  bool notAuthorized = false;
};

class ScriptRunner {
 public:
  virtual ~ScriptRunner() = default;
  virtual std::string runScript(const std::string& script, double timeoutSeconds) = 0;
  virtual ScriptResult run(const std::string& script, double timeoutSeconds) {
    return {runScript(script, timeoutSeconds), false};
  }
};

}  // namespace quillory::bridge
