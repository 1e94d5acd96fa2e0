#pragma once
// A log that keeps its lines, for tests. Thread-safe.

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Log.h"

namespace quillory::testing {

class CapturingLog final : public platform::Log {
 public:
  void line(const std::string& text) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(text);
  }

  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // True when some line contains `text`.
  bool contains(std::string_view text) const { return count(text) > 0; }
  // Number of lines that contain `text`.
  std::size_t count(std::string_view text) const {
    std::lock_guard lock(mutex_);
    return std::ranges::count_if(lines_,
                                 [&](const std::string& line) { return line.find(text) != line.npos; });
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace quillory::testing
