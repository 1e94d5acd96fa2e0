#include "support/CapturingLog.h"

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
  std::size_t n = 0;
  for (const auto& line : lines_) {
    if (line.find(text) != std::string::npos) ++n;
  }
  return n;
}

void CapturingLog::clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

}  // namespace quillory::testing
