// Translates log lines into os_log entries.

#include "platform/macos/MacSystemLog.h"

#include <os/log.h>

namespace quillory::platform::macos {

MacSystemLog::MacSystemLog() : log_((__bridge_retained void*)os_log_create("test.quillory.helper", "sync")) {}

void MacSystemLog::line(const std::string& text) {
  os_log_with_type((__bridge os_log_t)log_, OS_LOG_TYPE_DEFAULT, "%{public}s", text.c_str());
}

}  // namespace quillory::platform::macos
