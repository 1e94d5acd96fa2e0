#pragma once
// Log lines into the systemd journal, in journald's native protocol: one
// datagram per line on its socket, with the fields MESSAGE (the line, in the
// length-prefixed form, so any byte is carried as it is), PRIORITY and
// SYSLOG_IDENTIFIER, so that `journalctl --user -t quillory-helper` shows
// them and `journalctl --user -p warning` shows the failures. The priority
// follows the line's mark: "✗" is an error (3), "⚠" a warning (4), any other
// line information (6). Written against the protocol directly (a few lines) rather than
// through libsystemd, which would be a new build dependency on every system
// for one call.
//
// The socket never blocks: a line journald cannot take at once (its queue is
// full, it is restarting, the line is too long for a datagram) is dropped;
// logging never holds up the program. Threading: any thread (one sendto per
// line).

#include <sys/socket.h>
#include <sys/un.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Log.h"
#include "platform/posix/OwnedFd.h"

namespace quillory::platform::posix {

// The syslog priority of a log line: by the mark that opens it after the
// "[Helper]" prefix and its indentation; a mark further on (in a library's
// name, say) does not count.
int journalPriority(std::string_view line);

class JournalLog final : public Log {
 public:
  static constexpr const char* kSocket = "/run/systemd/journal/socket";

  explicit JournalLog(const std::filesystem::path& socket = kSocket,
                      std::string identifier = "quillory-helper");
  void line(const std::string& text) override;

 private:
  const std::string identifier_;
  OwnedFd fd_;
  sockaddr_un address_{};
  socklen_t addressLength_ = 0;
};

}  // namespace quillory::platform::posix
