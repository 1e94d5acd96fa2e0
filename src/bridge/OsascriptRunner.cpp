#include "bridge/OsascriptRunner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"
#include "platform/Unicode.h"

namespace quillory::bridge {
namespace {

using platform::ChildProcess;

// Longer limits are cut to this (about 31 years), so the deadline stays representable.
constexpr double kLongestLimitSeconds = 1e9;

double boundedLimit(ScriptTimeout timeout) {
  const double seconds = timeout.count();
  if (std::isnan(seconds)) return 0;
  return std::clamp(seconds, -kLongestLimitSeconds, kLongestLimitSeconds);
}

std::string timeoutLine(double limitSeconds) {
  // Truncation toward zero, as the cast does.
  return "[Helper] ⚠ JXA timed out after " + std::to_string(static_cast<long long>(limitSeconds)) +
         "s — check System Settings › Privacy & Security › Automation";
}

std::string outputLimitLine(std::size_t limit) {
  constexpr std::size_t kMebibyte = 1024 * 1024;
  const std::string size =
      limit % kMebibyte == 0 ? std::to_string(limit / kMebibyte) + " MiB" : std::to_string(limit) + " bytes";
  return "[Helper] ⚠ JXA output passed " + size + " — script stopped";
}

// What osascript writes on standard error when the user has not allowed this
// program to control the application the script addresses.
bool refusedAuthorization(std::string_view errorTail) {
  return errorTail.find("-1743") != std::string_view::npos ||
         errorTail.find("Not authorized to send Apple events") != std::string_view::npos;
}

// The last line of what the launcher wrote on standard error, trimmed: its
// own account of the refusal.
std::string lastLine(std::string_view text) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  if (const std::size_t newline = text.rfind('\n'); newline != std::string_view::npos) {
    text.remove_prefix(newline + 1);
  }
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  return std::string(text);
}

// The child has ended: takes the rest of its output. Whatever the child
// started and that still holds the pipes gets `kGrace`; then the rest of its
// group is ended (the unreaped child keeps the group id reserved) and what is
// already in the pipes is taken.
void readRest(ChildProcess& child, bool open, const ChildProcess::OutputHandler& onOutput,
              std::string& errorTail) {
  const auto graceEnd = std::chrono::steady_clock::now() + OsascriptRunner::kGrace;
  while (open) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(graceEnd - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds::zero()) break;
    open = child.read(left, onOutput, &errorTail).open;
  }
  if (!open) return;
  child.kill();
  for (ChildProcess::ReadResult got{0, true}; got.open;) {
    got = child.read(std::chrono::milliseconds::zero(), onOutput, &errorTail);
    if (got.outputBytes == 0) break;
  }
}

// After a time-out, on a global queue: the child has had the termination
// request; give it a grace period, then kill its whole group (which also ends
// whatever it started) and reap it; the pipes close with it. When the
// dispatcher drops the task without running it (it is shutting down), the
// same happens when the task is destroyed, so no child is left unreaped.
class TimeOutReaper {
 public:
  explicit TimeOutReaper(std::unique_ptr<ChildProcess> child) : child_(std::move(child)) {}
  ~TimeOutReaper() { reap(); }
  TimeOutReaper(const TimeOutReaper&) = delete;
  TimeOutReaper& operator=(const TimeOutReaper&) = delete;

  void reap() {
    if (std::exchange(done_, true)) return;
    child_->waitForExit(OsascriptRunner::kGrace);
    child_->kill();
    child_->reap();
  }

 private:
  const std::unique_ptr<ChildProcess> child_;
  bool done_ = false;
};

}  // namespace

std::optional<std::string> launcherProblem(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    if (error == ENOENT) return std::string(kLauncherMissing);
    return "cannot be looked at (" + std::generic_category().message(error) + ")";
  }
  if (S_ISDIR(info.st_mode)) return "is a folder";
  if (!S_ISREG(info.st_mode)) return "is not a file";
  if (::access(path.c_str(), X_OK) != 0) return "is not executable";
  return std::nullopt;
}

OsascriptRunner::OsascriptRunner(platform::Dispatcher& dispatcher, platform::Log& log,
                                 const platform::Clock& clock, std::string executable,
                                 std::size_t outputLimit)
    : dispatcher_(dispatcher),
      log_(log),
      clock_(clock),
      executable_(std::move(executable)),
      outputLimit_(outputLimit) {}

bool OsascriptRunner::launcherMissing() const { return launcherProblem(executable_) == kLauncherMissing; }

ScriptResult OsascriptRunner::run(const std::string& script, ScriptTimeout timeout) {
  std::string output;
  const StreamResult result =
      stream(script, timeout, [&output](std::string_view piece) { output.append(piece); });
  if (!result.delivered) output.clear();
  return {std::move(output), result.notAuthorized, result.refusal};
}

StreamResult OsascriptRunner::stream(const std::string& script, ScriptTimeout timeout,
                                     const OutputSink& sink) {
  const double limit = boundedLimit(timeout);
  std::unique_ptr<ChildProcess> child = ChildProcess::spawn(executable_, {"-l", "JavaScript", "-e", script});
  if (!child) return {};

  platform::TrimmedUtf8Stream text(sink);
  std::size_t received = 0;
  bool overLimit = false;
  std::string errorTail;
  const ChildProcess::OutputHandler onOutput = [&](std::string_view piece) {
    if (overLimit) return;
    received += piece.size();
    if (received > outputLimit_) {
      // Too much output: stop the whole group at once; the rest is not read.
      overLimit = true;
      child->kill();
      return;
    }
    text.write(piece);
  };

  // On the monotonic clock: a step of the wall clock neither stretches nor
  // cuts the limit.
  using Steady = std::chrono::steady_clock;
  const platform::MonotonicTime deadline =
      clock_.monotonicNow() +
      std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(limit));
  // The output is read here while the child runs, and the read ends the
  // moment the child does. The deadline is looked at at least every polling
  // step, and the last wait ends at the deadline, so a time-out comes no
  // later than one step after it.
  bool open = true;
  while (!overLimit && child->isRunning()) {
    const auto left = deadline - clock_.monotonicNow();
    if (left <= Steady::duration::zero()) break;
    const auto wait = std::min(std::chrono::ceil<std::chrono::milliseconds>(left), kPollingStep);
    if (open) {
      open = child->read(wait, onOutput, &errorTail).open;
    } else {
      child->waitForExit(wait);
    }
  }

  if (!overLimit && child->isRunning()) {
    child->terminate();
    log_.line(timeoutLine(limit));
    // From here on only the reaping task touches the child.
    auto reaper = std::make_shared<TimeOutReaper>(std::move(child));
    dispatcher_.global(platform::QualityOfService::utility, [reaper = std::move(reaper)] { reaper->reap(); });
    return {};
  }
  if (!overLimit) readRest(*child, open, onOutput, errorTail);
  child->reap();
  if (overLimit) {
    log_.line(outputLimitLine(outputLimit_));
    return {};
  }
  const bool valid = text.finish();
  if (!valid) log_.line("[Helper] \u26A0 JXA output is not UTF-8 text \u2014 ignored");
  const bool refused = refusedAuthorization(errorTail);
  return {valid && text.passedAny(), refused, refused ? lastLine(errorTail) : std::string(), !valid};
}

}  // namespace quillory::bridge
