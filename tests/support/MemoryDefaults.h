#pragma once
// Defaults held in memory, for tests. Like the file store, each call is atomic
// by itself (one mutex).

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Defaults.h"

namespace quillory::testing {

class MemoryDefaults final : public platform::Defaults {
 public:
  platform::DefaultsValue value(const std::string& key) const override;
  void setBool(const std::string& key, bool value) override;
  void setString(const std::string& key, const std::string& value) override;
  void setDate(const std::string& key, platform::Date value) override;
  void remove(const std::string& key) override;
  std::vector<std::string> keys() const override;

  void clear();

 private:
  void store(const std::string& key, platform::DefaultsValue value);

  mutable std::mutex mutex_;
  std::map<std::string, platform::DefaultsValue> values_;
};

}  // namespace quillory::testing
