#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/posix/StdoutLog.h"
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
  for (int t = 0; t < 6; ++t) {
    EXPECT_EQ(counts["[Helper] " + std::string(5000 + t, static_cast<char>('a' + t))], 100) << t;
  }
}

TEST(StdoutLogTest, WriteToAClosedDescriptorIsDropped) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  StdoutLog log(fds[1]);  // EBADF: the line is lost, nothing else happens
  log.line("[Helper] lost");
  ::close(fds[0]);
}

}  // namespace
}  // namespace quillory::platform::posix
