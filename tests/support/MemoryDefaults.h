#pragma once
// Defaults held in memory, for tests. Like the file store, each change is
// applied as one step (one mutex). `refuseWrites` makes every change fail
// with that reason until it is called with none.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Defaults.h"

namespace quillory::testing {

class MemoryDefaults final : public platform::Defaults {
 public:
  platform::DefaultsValue value(const std::string& key) const override {
    std::unique_lock lock(mutex_);
    const auto it = values_.find(key);
    const platform::DefaultsValue found = it == values_.end() ? platform::DefaultsValue() : it->second;
    lock.unlock();
    if (afterRead) afterRead(key);
    return found;
  }
  std::vector<std::string> keys() const override {
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto& entry : values_) result.push_back(entry.first);
    return result;
  }
  platform::StoreResult apply(const platform::DefaultsChange& change) override {
    std::lock_guard lock(mutex_);
    if (refusal_) return {refusal_};
    for (const auto& entry : change.entries()) {
      const auto guard = entry.unless ? values_.find(entry.unless->first) : values_.end();
      if (guard != values_.end() && guard->second == entry.unless->second) continue;
      values_.erase(entry.key);
      if (!entry.value.isAbsent()) values_.emplace(entry.key, entry.value);
    }
    return {};
  }

  void refuseWrites(std::optional<std::string> reason) {
    std::lock_guard lock(mutex_);
    refusal_ = std::move(reason);
  }

  // Called after each read with its key, on the reading thread, outside the
  // store's lock: tests of what happens right after a read. Set it before
  // other threads use the store.
  std::function<void(const std::string& key)> afterRead;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, platform::DefaultsValue> values_;
  std::optional<std::string> refusal_;
};

}  // namespace quillory::testing
