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
  platform::DefaultsValue value(const std::string& key) const override;
  std::vector<std::string> keys() const override;
  platform::StoreResult apply(const platform::DefaultsChange& change) override;

  void clear();  // (the fuzzers start each input with no settings)
  void refuseWrites(std::optional<std::string> reason);

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
