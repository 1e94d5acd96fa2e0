#include "support/MemoryDefaults.h"

namespace quillory::testing {

using platform::DefaultsValue;

DefaultsValue MemoryDefaults::value(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? DefaultsValue() : it->second;
}

void MemoryDefaults::setBool(const std::string& key, bool value) { store(key, DefaultsValue(value)); }

void MemoryDefaults::setString(const std::string& key, const std::string& value) {
  store(key, DefaultsValue(value));
}

void MemoryDefaults::setDate(const std::string& key, platform::Date value) {
  store(key, DefaultsValue(value));
}

void MemoryDefaults::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
}

std::vector<std::string> MemoryDefaults::keys() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> result;
  for (const auto& entry : values_) result.push_back(entry.first);
  return result;
}

void MemoryDefaults::clear() {
  std::lock_guard lock(mutex_);
  values_.clear();
}

void MemoryDefaults::store(const std::string& key, DefaultsValue value) {
  std::lock_guard lock(mutex_);
  values_[key] = std::move(value);
}

}  // namespace quillory::testing
