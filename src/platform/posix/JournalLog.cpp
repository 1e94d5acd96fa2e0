#include "platform/posix/JournalLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quillory::platform::posix {

int journalPriority(std::string_view line) {
  constexpr std::string_view kPrefix = "[Helper]";
  if (line.starts_with(kPrefix)) line.remove_prefix(kPrefix.size());
  line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
  if (line.starts_with("\u2717")) return 3;  // ✗
  if (line.starts_with("\u26A0")) return 4;  // ⚠
  return 6;
}

JournalLog::JournalLog(const std::filesystem::path& socket, std::string identifier)
    : identifier_(std::move(identifier)) {
  const std::string path = socket.string();
  if (path.size() >= sizeof(address_.sun_path)) return;
  address_.sun_family = AF_UNIX;
  std::memcpy(address_.sun_path, path.c_str(), path.size() + 1);
  addressLength_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  // (fcntl rather than socket flags: the same code builds on macOS.)
  fd_ = OwnedFd(::socket(AF_UNIX, SOCK_DGRAM, 0));
  if (fd_.valid() &&
      (::fcntl(fd_.get(), F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(fd_.get(), F_SETFL, O_NONBLOCK) != 0)) {
    fd_.reset();
  }
}

void JournalLog::line(const std::string& text) {
  if (!fd_.valid()) return;
  std::string entry = "PRIORITY=" + std::to_string(journalPriority(text)) + "\nSYSLOG_IDENTIFIER=" + identifier_ +
                      "\nMESSAGE\n";
  // The value's length as 64-bit little endian, then the value and a newline.
  for (int byte = 0; byte < 8; ++byte) {
    entry.push_back(static_cast<char>((static_cast<std::uint64_t>(text.size()) >> (8 * byte)) & 0xFF));
  }
  entry.append(text).push_back('\n');
  // A datagram socket raises no SIGPIPE; a refused or oversized line is lost.
  (void)::sendto(fd_.get(), entry.data(), entry.size(), 0, reinterpret_cast<const sockaddr*>(&address_),
                 addressLength_);
}

}  // namespace quillory::platform::posix
