#pragma once
// The ways an export fails, each with its user-facing message. Its
// description in log lines is the case name. An error may carry a detail
// that the message is followed by (": " and the detail): the first
// destination's reason for `noDestinations`, the script launcher's own words
// for `klNotAuthorized`.

#include <stdexcept>
#include <string>
#include <string_view>

namespace quillory::publish {

enum class ExportErrorCode {
  klNotResponding,
  parseFailure,
  emptyLibrary,
  noDestinations,
  nameConflict,
  klNotAuthorized,   // the user has not allowed this program to control Kettle Ledger
  noScriptLauncher,  // nothing at the script launcher's path (Linux, which has no osascript)
};

std::string_view exportErrorMessage(ExportErrorCode code);
std::string_view exportErrorCaseName(ExportErrorCode code);

class ExportError : public std::runtime_error {
 public:
  explicit ExportError(ExportErrorCode code, const std::string& detail = {});
  ExportErrorCode code() const noexcept { return code_; }
  // The case name, for log lines ("parseFailure").
  std::string_view caseName() const noexcept { return exportErrorCaseName(code_); }
  // what() is the user-facing message ("Could not parse export"), with the
  // detail after it.

  bool operator==(const ExportError& other) const noexcept { return code_ == other.code_; }

 private:
  ExportErrorCode code_;
};

}  // namespace quillory::publish
