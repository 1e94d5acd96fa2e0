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
      return "Allow Quillory Helper to control Kettle Ledger in System Settings \u203A Privacy & Security "
             "\u203A "
             "Automation";
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

ExportError::ExportError(ExportErrorCode code)
    : std::runtime_error(std::string(exportErrorMessage(code))), code_(code) {}

}  // namespace quillory::publish
