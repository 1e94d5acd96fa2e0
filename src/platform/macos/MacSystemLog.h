#pragma once
// Log lines into the unified log (os_log), subsystem "test.quillory.helper",
// category "sync": a failure ("✗") at the error level, every other line at
// the default level. The kind of event is marked public,
// the names and paths after it private (see LogPrivacy.h): Console and `log
// show --predicate 'subsystem == "test.quillory.helper"'` show them only
// where private data is enabled; standard output keeps the whole line
// (macOS only). Threading: any thread.

#include <string>

#include "platform/Log.h"

namespace quillory::platform::macos {

class MacSystemLog final : public Log {
 public:
  MacSystemLog();
  void line(const std::string& text) override;

 private:
  void* log_;  // the os_log_t, which lives as long as the process
};

}  // namespace quillory::platform::macos
