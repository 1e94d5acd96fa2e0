#include "bridge/OsascriptRunner.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>

#include "platform/Clock.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "platform/posix/ChildProcess.h"

namespace quillory::bridge {
namespace {

using platform::posix::ChildProcess;

constexpr std::chrono::milliseconds kGrace{static_cast<long long>(OsascriptRunner::kGraceSeconds * 1000)};
// Longer limits are cut to this (about 31 years), so the deadline stays representable.
constexpr double kLongestLimitSeconds = 1e9;

// One run, shared by the calling thread, the reader task and, after a
// time-out, the reaping task. The last of them to let go frees it, which
// closes the pipes; no task ever refers to the caller's frame.
struct Run {
  Run(std::unique_ptr<ChildProcess> process, std::size_t limit)
      : child(std::move(process)), outputLimit(limit) {}

  void markReaderDone() {
    {
      std::lock_guard lock(mutex);
      readerDone = true;
    }
    finished.notify_all();
  }
  bool waitForReader(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return finished.wait_for(lock, limit, [this] { return readerDone; });
  }
  void waitForReader() {
    std::unique_lock lock(mutex);
    finished.wait(lock, [this] { return readerDone; });
  }

  const std::unique_ptr<ChildProcess> child;
  const std::size_t outputLimit;
  // Written only by the reader task; read only after `readerDone` was seen
  // under the mutex, which orders the writes before the read.
  std::string output;
  std::string errorTail;
  bool overLimit = false;
  std::mutex mutex;
  std::condition_variable finished;
  bool readerDone = false;
};

// Held by the reader task. Its end marks the reader as done, also when a
// dispatcher that shuts down drops the task without running it, so the
// caller never waits for a reader that will not come.
class ReaderTicket {
 public:
  explicit ReaderTicket(std::shared_ptr<Run> run) : run_(std::move(run)) {}
  ~ReaderTicket() { run_->markReaderDone(); }
  ReaderTicket(const ReaderTicket&) = delete;
  ReaderTicket& operator=(const ReaderTicket&) = delete;

  void read() {
    if (!run_->child->readOutput(run_->output, run_->outputLimit, &run_->errorTail)) {
      // Too much output: stop the whole group at once, which also ends the
      // caller's wait for the child.
      run_->child->kill();
      run_->overLimit = true;
    }
    run_->markReaderDone();
  }

 private:
  std::shared_ptr<Run> run_;
};

double boundedLimit(double seconds) {
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

// The child has ended: take its output once the reader has it all.
ScriptResult collectOutput(Run& run, platform::Log& log) {
  if (!run.waitForReader(kGrace)) {
    // Something the child started still holds its output open. End the rest
    // of its group (the unreaped child keeps the group id reserved) and take
    // what has arrived.
    run.child->kill();
    run.child->stopReading();
    run.waitForReader();
  }
  run.child->reap();
  if (run.overLimit) {
    log.line(outputLimitLine(run.outputLimit));
    return {};
  }
  const bool notAuthorized = refusedAuthorization(run.errorTail);
  if (!platform::isValidUtf8(run.output)) return {{}, notAuthorized};
  // Trimmed in place: the text is moved out, not copied (a leading trim
  // shifts it once, which scripts that print JSON do not need).
  const auto [first, end] = platform::trimmedBounds(run.output);
  run.output.resize(end);
  run.output.erase(0, first);
  return {std::move(run.output), notAuthorized};
}

// After a time-out, on a global queue: the child has had the termination
// request; give it a grace period, then kill its whole group (which also ends
// whatever it started that may hold the pipes), reap it and stop the reader
// in case a process outside the group still holds the output open. When the
// dispatcher drops the task without running it (it is shutting down), the
// same happens when the task is destroyed, so no child is left unreaped.
class TimeOutReaper {
 public:
  explicit TimeOutReaper(std::shared_ptr<Run> run) : run_(std::move(run)) {}
  ~TimeOutReaper() { reap(); }
  TimeOutReaper(const TimeOutReaper&) = delete;
  TimeOutReaper& operator=(const TimeOutReaper&) = delete;

  void reap() {
    if (std::exchange(done_, true)) return;
    run_->child->waitForExit(kGrace);
    run_->child->kill();
    run_->child->reap();
    run_->child->stopReading();
  }

 private:
  std::shared_ptr<Run> run_;
  bool done_ = false;
};

}  // namespace

OsascriptRunner::OsascriptRunner(platform::Dispatcher& dispatcher, platform::Clock& clock, platform::Log& log,
                                 std::string executable, std::size_t outputLimit)
    : dispatcher_(dispatcher),
      clock_(clock),
      log_(log),
      executable_(std::move(executable)),
      outputLimit_(outputLimit) {}

std::string OsascriptRunner::runScript(const std::string& script, double timeoutSeconds) {
  return run(script, timeoutSeconds).output;
}

ScriptResult OsascriptRunner::run(const std::string& script, double timeoutSeconds) {
  const double limit = boundedLimit(timeoutSeconds);
  std::unique_ptr<ChildProcess> process =
      ChildProcess::spawn(executable_, {"-l", "JavaScript", "-e", script});
  if (!process) return {};

  auto run = std::make_shared<Run>(std::move(process), outputLimit_);
  auto ticket = std::make_shared<ReaderTicket>(run);
  dispatcher_.global(platform::QualityOfService::utility, [ticket = std::move(ticket)] { ticket->read(); });

  const platform::Date deadline = clock_.now() + std::chrono::duration_cast<platform::Date::duration>(
                                                     std::chrono::duration<double>(limit));
  ChildProcess& child = *run->child;
  // The wait ends the moment the child does. The deadline is looked at at
  // least every polling step of the clock's time, and the last wait ends at
  // the deadline, so a time-out comes no later than one step after it.
  while (child.isRunning()) {
    const double left = platform::secondsBetween(clock_.now(), deadline);
    if (left <= 0) break;
    const double wait = std::min(left, kPollingStepSeconds);
    child.waitForExit(std::chrono::ceil<std::chrono::milliseconds>(std::chrono::duration<double>(wait)));
  }

  if (!child.isRunning()) return collectOutput(*run, log_);

  child.terminate();
  log_.line(timeoutLine(limit));
  // From here on only the reaping task touches the child.
  auto reaper = std::make_shared<TimeOutReaper>(std::move(run));
  dispatcher_.global(platform::QualityOfService::utility, [reaper = std::move(reaper)] { reaper->reap(); });
  return {};
}

}  // namespace quillory::bridge
