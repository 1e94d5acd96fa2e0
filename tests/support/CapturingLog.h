#pragma once
// A log that keeps its lines, for tests. Thread-safe.

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Log.h"

namespace quillory::testing {

class CapturingLog final : public platform::Log {
 public:
  void line(const std::string& text) override;

  std::vector<std::string> lines() const;
  // True when some line contains `text`.
  bool contains(std::string_view text) const;
  // Number of lines that contain `text`.
  std::size_t count(std::string_view text) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace quillory::testing
