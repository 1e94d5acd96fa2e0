#pragma once
// Runs a JavaScript for Automation script through the system's script
// launcher with a time limit.
//
// Contract: `run` starts the executable with the arguments "-l",
// "JavaScript", "-e" and the script text, and returns what the script printed
// on standard output, decoded as UTF-8 and trimmed of white space and
// newlines; the empty text when the launch failed, the output was not valid
// UTF-8, or the script was still running at the time limit (then the child is
// sent the termination request and the time-out line is logged). Beside that
// text it reports whether the launcher refused the script because the user
// has not allowed this program to control the host application (osascript's
// error -1743, "Not authorized to send Apple events"); a runner that cannot
// tell reports no refusal. It never throws. Standard error is drained; only
// its end is kept, to tell that refusal.
//
// `stream` is the same run handing out the output as it arrives, for output
// too large to hold whole: the sink receives it in pieces which, joined, are
// the text `run` would return, and `delivered` says whether that text
// is there and not empty. When it is false the pieces given so far (if any)
// are not the output and must be dropped: the output turned out not to be
// valid UTF-8 (`notUtf8` then, and a line says so), passed a limit, or the
// script ran into the time limit. The
// sink is called on the calling thread, before `stream` returns; it should
// not throw. The default gives the whole text of `run` in one piece.
//
// Threading: blocks the calling thread for the whole run; never call it on the
// main thread. Calls on several threads may run at once.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace quillory::bridge {

// A time limit in seconds, fractions allowed.
using ScriptTimeout = std::chrono::duration<double>;

struct ScriptResult {
  std::string output;  // the trimmed text, empty on failure
  bool notAuthorized = false;
  std::string refusal;  // when not authorized: the launcher's last line on standard error
};

struct StreamResult {
  bool delivered = false;  // the whole output reached the sink and is not empty
  bool notAuthorized = false;
  std::string refusal;
  bool notUtf8 = false;  // the script answered, but not with well-formed UTF-8
};

using OutputSink = std::function<void(std::string_view piece)>;

class ScriptRunner {
 public:
  virtual ~ScriptRunner() = default;
  virtual ScriptResult run(const std::string& script, ScriptTimeout timeout) = 0;
  virtual StreamResult stream(const std::string& script, ScriptTimeout timeout, const OutputSink& sink) {
    const ScriptResult result = run(script, timeout);
    if (!result.output.empty()) sink(result.output);
    return {!result.output.empty(), result.notAuthorized, result.refusal};
  }
  // Whether there is nothing at the script launcher's path, so that no script
  // can ever run (Linux, where there is no osascript). Looks at the file
  // system; any thread. A runner without a launcher answers false.
  virtual bool launcherMissing() const { return false; }
};

}  // namespace quillory::bridge
