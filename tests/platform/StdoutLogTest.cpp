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
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
      threads.emplace_back([&log, t] {
        // Longer than PIPE_BUF, so only the lock keeps a line together.
        const std::string body(5000 + t, static_cast<char>('a' + t));
        for (int i = 0; i < 100; ++i) log.line("[Helper] " + body);
      });
    }
    for (auto& thread : threads) thread.join();
  }
  ::close(fd);

  std::istringstream content(*files::readFile(file));
  std::map<char, int> perThread;
  std::string line;
  while (std::getline(content, line)) {
    ASSERT_TRUE(line.starts_with("[Helper] "));
    const std::string body = line.substr(9);
    ASSERT_FALSE(body.empty());
    ASSERT_EQ(body, std::string(body.size(), body[0]));
    ASSERT_EQ(body.size(), 5000u + static_cast<unsigned>(body[0] - 'a'));
    ++perThread[body[0]];
  }
  EXPECT_EQ(perThread.size(), 6u);
  for (const auto& [key, count] : perThread) EXPECT_EQ(count, 100) << key;
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
