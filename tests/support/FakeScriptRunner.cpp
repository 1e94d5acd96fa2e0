#include "support/FakeScriptRunner.h"

#include <algorithm>
#include <utility>

namespace quillory::testing {

void FakeScriptRunner::setRefused(bool refused) {
  std::lock_guard lock(mutex_);
  refused_ = refused;
}

bridge::ScriptResult FakeScriptRunner::run(const std::string& script, bridge::ScriptTimeout) {
  Handler handler;
  std::optional<std::string> answer;
  {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_[script];
    ++entry.calls;
    ++totalCalls_;
    ++entry.inFlight;
    entry.maxInFlight = std::max(entry.maxInFlight, entry.inFlight);
    if (!entry.queued.empty()) {
      answer = std::move(entry.queued.front());
      entry.queued.pop_front();
    } else {
      handler = entry.handler;
    }
  }
  std::string result = answer ? std::move(*answer) : handler ? handler() : "";
  std::lock_guard lock(mutex_);
  --entries_[script].inFlight;
  return {std::move(result), refused_, refused_ ? std::string(kRefusal) : std::string()};
}

void FakeScriptRunner::setAnswer(std::string_view script, std::string answer) {
  setHandler(script, [answer = std::move(answer)] { return answer; });
}

void FakeScriptRunner::queueAnswer(std::string_view script, std::string answer) {
  std::lock_guard lock(mutex_);
  entries_[std::string(script)].queued.push_back(std::move(answer));
}

void FakeScriptRunner::setHandler(std::string_view script, Handler handler) {
  std::lock_guard lock(mutex_);
  entries_[std::string(script)].handler = std::move(handler);
}

FakeScriptRunner::Entry FakeScriptRunner::entry(std::string_view script) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(script);
  return it == entries_.end() ? Entry{} : it->second;
}

std::size_t FakeScriptRunner::totalCalls() const {
  std::lock_guard lock(mutex_);
  return totalCalls_;
}

}  // namespace quillory::testing
