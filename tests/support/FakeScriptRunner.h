#pragma once
// A script runner that answers from the test instead of a child process.
// Answers are looked up by the exact script text: queued one-shot answers
// first, then a handler (a fixed answer is one), else "". Every call is
// counted, and the runner records how many calls of the same
// script were in flight at once (to catch overlapping runs). Thread-safe;
// handlers run without the runner's lock held.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "bridge/ScriptRunner.h"

namespace quillory::testing {

class FakeScriptRunner final : public bridge::ScriptRunner {
 public:
  using Handler = std::function<std::string()>;

  // The answer set for the script, reported as refused while `setRefused(true)`,
  // with the launcher's words `kRefusal`.
  bridge::ScriptResult run(const std::string& script, bridge::ScriptTimeout) override {
    std::unique_lock lock(mutex_);
    Entry& entry = entries_[script];
    ++entry.calls;
    ++totalCalls_;
    entry.maxInFlight = std::max(entry.maxInFlight, ++entry.inFlight);
    Handler handler = entry.handler;
    if (!entry.queued.empty()) {
      handler = [answer = std::move(entry.queued.front())] { return answer; };
      entry.queued.pop_front();
    }
    lock.unlock();
    std::string result = handler ? handler() : "";
    lock.lock();
    --entries_[script].inFlight;
    const bool refused = refused_;
    return {std::move(result), refused, refused ? std::string(kRefusal) : std::string()};
  }
  void setRefused(bool refused) { refused_ = refused; }
  // No launcher: `launcherMissing` answers true (the scripts still answer).
  bool launcherMissing() const override { return launcherMissing_; }
  void setLauncherMissing(bool missing) { launcherMissing_ = missing; }
  static constexpr const char* kRefusal = "Not authorized to send Apple events to Kettle Ledger. (-1743)";

  void setAnswer(std::string_view script, std::string answer) {
    setHandler(script, [answer = std::move(answer)] { return answer; });
  }
  void queueAnswer(std::string_view script, std::string answer) {
    std::lock_guard lock(mutex_);
    entries_[std::string(script)].queued.push_back(std::move(answer));
  }
  void setHandler(std::string_view script, Handler handler) {
    std::lock_guard lock(mutex_);
    entries_[std::string(script)].handler = std::move(handler);
  }

  std::size_t calls(std::string_view script) const { return entry(script).calls; }
  std::size_t totalCalls() const { return totalCalls_; }
  // The largest number of calls of this script that were running at once.
  std::size_t maxInFlight(std::string_view script) const { return entry(script).maxInFlight; }

 private:
  struct Entry {
    std::deque<std::string> queued;
    Handler handler;
    std::size_t calls = 0, inFlight = 0, maxInFlight = 0;
  };

  // A copy of the script's entry (an empty one for a script never named).
  Entry entry(std::string_view script) const {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(script);
    return it == entries_.end() ? Entry{} : it->second;
  }

  mutable std::mutex mutex_;
  std::map<std::string, Entry, std::less<>> entries_;
  std::atomic<std::size_t> totalCalls_ = 0;
  std::atomic<bool> refused_ = false, launcherMissing_ = false;
};

}  // namespace quillory::testing
