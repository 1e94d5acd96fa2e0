#pragma once
// A login-item service whose status the test sets. Registering and
// unregistering leave the status as it is (as on a system that still waits
// for the user's approval); registering is counted. Main thread only.

#include <cstddef>
#include <optional>
#include <string>

#include "platform/LoginItemService.h"

namespace quillory::testing {

class FakeLoginItemService final : public platform::LoginItemService {
 public:
  platform::LoginItemStatus status() const override { return status_; }
  std::optional<std::string> registerItem() override {
    ++registers_;
    return std::nullopt;
  }
  std::optional<std::string> unregisterItem() override { return std::nullopt; }

  void setStatus(platform::LoginItemStatus status) { status_ = status; }
  std::size_t registers() const { return registers_; }

 private:
  platform::LoginItemStatus status_ = platform::LoginItemStatus::notRegistered;
  std::size_t registers_ = 0;
};

}  // namespace quillory::testing
