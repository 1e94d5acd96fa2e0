#pragma once
// The log as quillory-helper-cli prints it: every line is made safe for a
// terminal (TerminalText.h) before the log that writes it gets it, so that a
// name, a path or a currency from outside the program can neither control
// the terminal nor fake a line of its own.
//
// Threading: any thread, as the log it writes to.

#include <string>

#include "cli/TerminalText.h"
#include "platform/Log.h"

namespace quillory::cli {

class TerminalLog final : public platform::Log {
 public:
  explicit TerminalLog(platform::Log& out) : out_(out) {}
  void line(const std::string& text) override { out_.line(terminalText(text)); }

 private:
  platform::Log& out_;
};

}  // namespace quillory::cli
