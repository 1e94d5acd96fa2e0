#include "support/CapturingLog.h"

#include <algorithm>

namespace quillory::testing {

void CapturingLog::line(const std::string& text) {
  std::lock_guard lock(mutex_);
  lines_.push_back(text);
}

std::vector<std::string> CapturingLog::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

bool CapturingLog::contains(std::string_view text) const { return count(text) > 0; }

std::size_t CapturingLog::count(std::string_view text) const {
  std::lock_guard lock(mutex_);
  return std::count_if(lines_.begin(), lines_.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

void CapturingLog::clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

}  // namespace quillory::testing
