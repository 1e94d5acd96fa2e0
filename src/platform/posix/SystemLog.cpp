#include "platform/posix/SystemLog.h"

#include <sys/stat.h>

#include <string>
#include <system_error>

#include "platform/posix/CappedFileLog.h"
#include "platform/posix/JournalLog.h"
#include "platform/posix/TeeLog.h"

namespace quillory::platform::posix {
namespace fs = std::filesystem;

bool descriptorIsJournalStream(const EnvironmentLookup& environment, int fd) {
  const std::optional<std::string> stream = environment("JOURNAL_STREAM");
  struct stat info {};
  if (!stream || ::fstat(fd, &info) != 0) return false;
  return *stream == std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

fs::path logFile(const EnvironmentLookup& environment, const fs::path& home) {
  const std::optional<std::string> state = environment("XDG_STATE_HOME");
  const fs::path folder = state && fs::path(*state).is_absolute() ? fs::path(*state) : home / ".local/state";
  return folder / "quillory-helper" / "quillory-helper.log";
}

std::unique_ptr<Log> makeSystemLog(const EnvironmentLookup& environment, const fs::path& home,
                                   const fs::path& systemdRuntime, int standardOutput) {
  // The file is always written: it is what "Show Log…" opens.
  auto file = std::make_unique<CappedFileLog>(logFile(environment, home));
  std::error_code error;
  const fs::path socket = systemdRuntime / "journal" / "socket";
  if (fs::is_directory(systemdRuntime / "system", error) && fs::is_socket(socket, error) &&
      !descriptorIsJournalStream(environment, standardOutput)) {
    return std::make_unique<TeeLog>(std::make_unique<JournalLog>(socket), std::move(file));
  }
  return file;
}

}  // namespace quillory::platform::posix
