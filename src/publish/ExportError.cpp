#include "publish/ExportError.h"

#include <string>

namespace quillory::publish {

std::string_view exportErrorMessage(ExportErrorCode code) {
  switch (code) {
    case ExportErrorCode::klNotResponding:
      return "Kettle Ledger did not respond";
    case ExportErrorCode::parseFailure:
      return "Could not parse export";
    case ExportErrorCode::emptyLibrary:
      return "Library is empty";
    case ExportErrorCode::noDestinations:
      return "No write destinations found";
    case ExportErrorCode::nameConflict:
      return "Library name conflict \u2014 see Helper alert";
    case ExportErrorCode::klNotAuthorized:
#if defined(__APPLE__)
      return "Allow Quillory Helper to control Kettle Ledger in System Settings \u203A Privacy & Security "
             "\u203A "
             "Automation";
#else
      // Linux has no such setting: the script launcher itself said no.
      return "The script launcher refused to run the script for Kettle Ledger";
#endif
    case ExportErrorCode::noScriptLauncher:
      return "Kettle Ledger runs on macOS \u2014 see `man quillory-helper` to try the simulated one";
  }
  return "";
}

std::string_view exportErrorCaseName(ExportErrorCode code) {
  switch (code) {
    case ExportErrorCode::klNotResponding:
      return "klNotResponding";
    case ExportErrorCode::parseFailure:
      return "parseFailure";
    case ExportErrorCode::emptyLibrary:
      return "emptyLibrary";
    case ExportErrorCode::noDestinations:
      return "noDestinations";
    case ExportErrorCode::nameConflict:
      return "nameConflict";
    case ExportErrorCode::klNotAuthorized:
      return "klNotAuthorized";
    case ExportErrorCode::noScriptLauncher:
      return "noScriptLauncher";
  }
  return "";
}

namespace {

std::string messageWith(ExportErrorCode code, const std::string& detail) {
#if defined(__APPLE__)
  // The message already says where the permission is given.
  if (code == ExportErrorCode::klNotAuthorized) return std::string(exportErrorMessage(code));
#endif
  return std::string(exportErrorMessage(code)) + (detail.empty() ? "" : ": " + detail);
}

}  // namespace

ExportError::ExportError(ExportErrorCode code, const std::string& detail)
    : std::runtime_error(messageWith(code, detail)), code_(code) {}

}  // namespace quillory::publish
