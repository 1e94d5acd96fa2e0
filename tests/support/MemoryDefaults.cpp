#include "support/MemoryDefaults.h"

namespace quillory::testing {

using platform::DefaultsValue;

DefaultsValue MemoryDefaults::value(const std::string& key) const {
  DefaultsValue found;
  {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it != values_.end()) found = it->second;
  }
  if (afterRead) afterRead(key);
  return found;
}

std::vector<std::string> MemoryDefaults::keys() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> result;
  for (const auto& entry : values_) result.push_back(entry.first);
  return result;
}

platform::StoreResult MemoryDefaults::apply(const platform::DefaultsChange& change) {
  std::lock_guard lock(mutex_);
  if (refusal_) return {refusal_};
  for (const auto& entry : change.entries()) {
    if (entry.unless) {
      auto guard = values_.find(entry.unless->first);
      if (guard != values_.end() && guard->second == entry.unless->second) continue;
    }
    if (entry.value.isAbsent()) {
      values_.erase(entry.key);
    } else {
      values_[entry.key] = entry.value;
    }
  }
  return {};
}

void MemoryDefaults::clear() {
  std::lock_guard lock(mutex_);
  values_.clear();
}

void MemoryDefaults::refuseWrites(std::optional<std::string> reason) {
  std::lock_guard lock(mutex_);
  refusal_ = std::move(reason);
}

}  // namespace quillory::testing
