#pragma once
// A login-item service whose status the test sets. Registering and
// unregistering are counted; by default a successful register makes the
// status enabled and an unregister not registered, unless the test fixes the
// status (as a system that still waits for the user's approval does) or makes
// the calls fail with an error text. Main thread only.

#include <cstddef>
#include <optional>
#include <string>

#include "platform/LoginItemService.h"

namespace quillory::testing {

class FakeLoginItemService final : public platform::LoginItemService {
 public:
  platform::LoginItemStatus status() const override { return status_; }
  std::optional<std::string> registerItem() override {
    return call(registers_, platform::LoginItemStatus::enabled);
  }
  std::optional<std::string> unregisterItem() override {
    return call(unregisters_, platform::LoginItemStatus::notRegistered);
  }

  void setStatus(platform::LoginItemStatus status) { status_ = status; }
  // The status stays what it is, whatever the calls do.
  void fixStatus(platform::LoginItemStatus status) {
    status_ = status;
    statusFixed_ = true;
  }
  void failWith(std::optional<std::string> error) { error_ = std::move(error); }
  std::size_t registers() const { return registers_; }
  std::size_t unregisters() const { return unregisters_; }

 private:
  std::optional<std::string> call(std::size_t& count, platform::LoginItemStatus statusAfter) {
    ++count;
    if (error_) return error_;
    if (!statusFixed_) status_ = statusAfter;
    return std::nullopt;
  }

  platform::LoginItemStatus status_ = platform::LoginItemStatus::notRegistered;
  bool statusFixed_ = false;
  std::optional<std::string> error_;
  std::size_t registers_ = 0;
  std::size_t unregisters_ = 0;
};

}  // namespace quillory::testing
