#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

platform::EnvironmentLookup environment(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) -> std::optional<std::string> {
    const auto found = values.find(name);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
  };
}

TEST(SystemLogTest, WithoutSystemdLinesGoToACappedFileInTheStateFolder) {
  testing::TempHome home;
  const auto standard = home / ".local/state/quillory-helper/quillory-helper.log";
  EXPECT_EQ(logFile(environment({{"XDG_STATE_HOME", "relative"}}), home.path()), standard);
  EXPECT_EQ(logFile(environment({{"XDG_STATE_HOME", "/var/x"}}), home.path()),
            "/var/x/quillory-helper/quillory-helper.log");
  makeSystemLog(environment({}), home.path(), home / "no-systemd")->line("[Helper] first");
  EXPECT_EQ(files::readFile(standard), "[Helper] first\n");

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
