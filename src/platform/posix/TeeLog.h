#pragma once
// One log that writes each line to two others, in order (both own their
// thread safety). Threading: any thread.

#include <memory>
#include <string>
#include <utility>

#include "platform/Log.h"

namespace quillory::platform::posix {

class TeeLog final : public Log {
 public:
  TeeLog(std::unique_ptr<Log> first, std::unique_ptr<Log> second)
      : first_(std::move(first)), second_(std::move(second)) {}
  void line(const std::string& text) override {
    first_->line(text);
    second_->line(text);
  }

 private:
  const std::unique_ptr<Log> first_;
  const std::unique_ptr<Log> second_;
};

}  // namespace quillory::platform::posix
