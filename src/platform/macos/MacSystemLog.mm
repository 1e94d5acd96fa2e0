// Translates log lines into os_log entries.

#include "platform/macos/MacSystemLog.h"

#include <os/log.h>

#include "platform/LogPrivacy.h"
#include "platform/posix/JournalLog.h"

namespace quillory::platform::macos {

MacSystemLog::MacSystemLog() : log_((__bridge_retained void*)os_log_create("test.quillory.helper", "sync")) {}

void MacSystemLog::line(const std::string& text) {
  const std::size_t shown = publicPartLength(text);
  const std::string publicPart = text.substr(0, shown);
  // A failure ("✗") is an error, as in the journal on Linux; every other
  // line goes out at the default level.
  const os_log_type_t type = posix::journalPriority(text) == 3 ? OS_LOG_TYPE_ERROR : OS_LOG_TYPE_DEFAULT;
  if (shown == text.size()) {
    os_log_with_type((__bridge os_log_t)log_, type, "%{public}s", publicPart.c_str());
  } else {
    os_log_with_type((__bridge os_log_t)log_, type, "%{public}s%{private}s", publicPart.c_str(),
                     text.c_str() + shown);
  }
}

}  // namespace quillory::platform::macos
