#pragma once
// Registration of the helper as a login item.
//
// Contract: `status` reads the current registration. `registerItem` and
// `unregisterItem` return none on success, or the error's text for the log.
// The status is the only truth: callers never infer it from a call's outcome.
//
// Threading: main thread.

#include <optional>
#include <string>

namespace quillory::platform {

enum class LoginItemStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

class LoginItemService {
 public:
  virtual ~LoginItemService() = default;
  virtual LoginItemStatus status() const = 0;
  virtual std::optional<std::string> registerItem() = 0;
  virtual std::optional<std::string> unregisterItem() = 0;
  // Opens the place where the user approves login items (status
  // requiresApproval); does nothing where there is none.
  virtual void openApprovalSettings() {}
};

}  // namespace quillory::platform
