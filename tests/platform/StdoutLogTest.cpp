#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/CappedFileLog.h"
#include "platform/posix/StdoutLog.h"
#include "platform/posix/SystemLog.h"
#include "support/CapturingLog.h"
#include "support/TempHome.h"

namespace quillory::platform::posix {
namespace {

TEST(StdoutLogTest, LinesFromManyThreadsNeverInterleave) {
  testing::TempHome home;
  const auto file = home / "out.log";
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  {
    StdoutLog log(fd);
    std::vector<std::jthread> threads;
    for (int t = 0; t < 6; ++t) {
      threads.emplace_back([&log, t] {
        // Longer than PIPE_BUF, so only the lock keeps a line together.
        const std::string body(5000 + t, static_cast<char>('a' + t));
        for (int i = 0; i < 100; ++i) log.line("[Helper] " + body);
      });
    }
  }
  ::close(fd);

  // Every line whole: six distinct lines, each written a hundred times.
  std::istringstream content(*files::readFile(file));
  std::map<std::string, int> counts;
  for (std::string line; std::getline(content, line);) ++counts[line];
  EXPECT_EQ(counts.size(), 6u);
  for (const auto& [line, count] : counts) EXPECT_EQ(count, 100) << line.substr(0, 10);
}

TEST(StdoutLogTest, WriteToAClosedDescriptorIsDropped) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  StdoutLog log(fds[1]);  // EBADF: the line is lost, nothing else happens
  log.line("[Helper] lost");
  ::close(fds[0]);
}

platform::EnvironmentLookup environment(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) -> std::optional<std::string> {
    const auto found = values.find(name);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
  };
}

TEST(SystemLogTest, UnderSystemdEachLineIsOneJournalEntry) {
  testing::TempHome root;
  root.makeFolder("systemd/system");
  root.makeFolder("systemd/journal");
  const std::string socketPath = (root / "systemd/journal/socket").string();
  const int journal = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

  const auto systemLog = makeSystemLog(environment({}), root.path(), root / "systemd");
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  StdoutLog(devNull, systemLog.get()).line("[Helper] \u2713 Export OK\nsecond");
  ::close(devNull);
  char buffer[256];
  const ssize_t got = ::recv(journal, buffer, sizeof(buffer), MSG_DONTWAIT);
  const std::string message = "[Helper] \u2713 Export OK\nsecond";
  EXPECT_EQ(std::string(buffer, got > 0 ? std::size_t(got) : 0),
            "PRIORITY=6\nSYSLOG_IDENTIFIER=quillory-helper\nMESSAGE\n" +
                std::string(1, char(message.size())) + std::string(7, '\0') + message + "\n");
  ::close(journal);

  // Standard output that already goes into the journal is not sent twice.
  struct stat info {};
  ASSERT_EQ(::fstat(STDOUT_FILENO, &info), 0);
  const std::string stream = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  EXPECT_EQ(makeSystemLog(environment({{"JOURNAL_STREAM", stream}}), root.path(), root / "systemd"), nullptr);
}

TEST(SystemLogTest, WithoutSystemdLinesGoToACappedFileInTheStateFolder) {
  testing::TempHome home;
  const std::vector<std::pair<std::map<std::string, std::string>, std::filesystem::path>> folders = {
      {{}, home / ".local/state/quillory-helper/quillory-helper.log"},
      {{{"XDG_STATE_HOME", "relative"}}, home / ".local/state/quillory-helper/quillory-helper.log"},
      {{{"XDG_STATE_HOME", "/var/x"}}, "/var/x/quillory-helper/quillory-helper.log"},
  };
  for (const auto& [values, expected] : folders)
    EXPECT_EQ(logFile(environment(values), home.path()), expected);
  makeSystemLog(environment({}), home.path(), home / "no-systemd")->line("[Helper] first");
  EXPECT_EQ(files::readFile(folders[0].second), "[Helper] first\n");

  // 10-byte lines under a 25-byte cap: two lines a file, the older file kept.
  const auto file = home / "capped/log";
  CappedFileLog capped(file, 25);
  for (const char* line : {"[Helper] 1", "[Helper] 2", "[Helper] 3", "[Helper] 4", "[Helper] 5"})
    capped.line(line);
  EXPECT_EQ(files::readFile(file), "[Helper] 5\n");
  EXPECT_EQ(files::readFile(file.string() + ".1"), "[Helper] 3\n[Helper] 4\n");

  // A folder where the older lines go: the file starts over, under the cap.
  const auto blocked = home / "blocked/log";
  home.makeFolder("blocked/log.1");
  CappedFileLog startsOver(blocked, 25);
  for (const char* line : {"[Helper] 1", "[Helper] 2", "[Helper] 3"}) startsOver.line(line);
  EXPECT_EQ(files::readFile(blocked), "[Helper] 3\n");
}

}  // namespace
}  // namespace quillory::platform::posix
