#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "platform/LogPrivacy.h"
#include "platform/posix/CappedFileLog.h"
#include "platform/posix/JournalLog.h"
#include "platform/posix/StdoutLog.h"
#include "platform/posix/SystemLog.h"
#include "support/TempHome.h"

namespace quillory::platform::posix {
namespace {

TEST(StdoutLogTest, LinesFromManyThreadsNeverInterleave) {
  testing::TempHome home;
  const OwnedFd fd(::open((home / "out.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  StdoutLog log(fd.get());
  std::vector<std::thread> threads;  // (Apple's libc++ has no std::jthread)
  // Lines longer than PIPE_BUF, six threads writing each a hundred times.
  for (char c = 'a'; c < 'g'; ++c)
    threads.emplace_back([&log, c] {
      for (int i = 0; i < 100; ++i) log.line(std::string(5000, c));
    });
  for (std::thread& thread : threads) thread.join();
  std::istringstream content(*files::readFile(home / "out.log"));
  std::map<std::string, int> counts;
  for (std::string line; std::getline(content, line);) ++counts[line];
  EXPECT_EQ(counts.size(), 6u);
  for (const auto& [line, count] : counts) EXPECT_EQ(count, 100) << line.substr(0, 10);
}

platform::EnvironmentLookup environment(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) {
    return values.contains(name) ? std::optional(values.at(name)) : std::nullopt;
  };
}

// A datagram socket bound at `path`, where a journal listens.
OwnedFd journalAt(const std::string& path) {
  OwnedFd journal(::socket(AF_UNIX, SOCK_DGRAM, 0));  // (macOS has no SOCK_CLOEXEC)
  ::fcntl(journal.get(), F_SETFD, FD_CLOEXEC);
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  EXPECT_EQ(::bind(journal.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  return journal;
}

TEST(SystemLogTest, WithoutSystemdLinesGoToACappedFileInTheStateFolder) {
  testing::TempHome home;
  const auto standard = home / ".local/state/quillory-helper/quillory-helper.log";
  EXPECT_EQ(logFile(environment({{"XDG_STATE_HOME", "relative"}}), home.path()), standard);
  EXPECT_EQ(logFile(environment({{"XDG_STATE_HOME", "/var/x"}}), home.path()),
            "/var/x/quillory-helper/quillory-helper.log");
  makeSystemLog(environment({}), home.path(), home / "no-systemd")->line("[Helper] first");
  EXPECT_EQ(files::readFile(standard), "[Helper] first\n");
  // With a journal, the file is written as well ("Show Log…" opens it).
  home.makeFolder("systemd/system");
  const OwnedFd journal = journalAt((home.makeFolder("systemd/journal") / "socket").string());
  makeSystemLog(environment({}), home.path(), home / "systemd")->line("[Helper] second");
  EXPECT_EQ(files::readFile(standard), "[Helper] first\n[Helper] second\n");
  char entry[256];
  EXPECT_GT(::recv(journal.get(), entry, sizeof entry, MSG_DONTWAIT), 0);

  // 10-byte lines under a 25-byte cap: two lines a file, the older file
  // kept; with a folder where the older lines go, the file starts over.
  home.makeFolder("blocked/log.1");
  for (const char* folder : {"capped", "blocked"}) {
    CappedFileLog capped(home / folder / "log", 25);
    for (const char* line : {"[Helper] 1", "[Helper] 2", "[Helper] 3", "[Helper] 4", "[Helper] 5"})
      capped.line(line);
    EXPECT_EQ(files::readFile(home / folder / "log"), "[Helper] 5\n") << folder;
  }
  EXPECT_EQ(files::readFile(home / "capped/log.1"), "[Helper] 3\n[Helper] 4\n");
}

// The journal's priority follows the mark that opens the line, indented or
// not; a mark inside the text is not the line's. The same priority opens the
// line on standard output when that is the journal's stream (JOURNAL_STREAM
// names its device and inode), as journald reads a service's output.
TEST(JournalLogTest, PriorityFollowsTheLinesMark) {
  testing::TempHome home;
  const OwnedFd journal = journalAt((home / "journal").string());
  JournalLog log((home / "journal").string());
  const OwnedFd out(::open((home / "stdout").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  struct stat info {};
  ASSERT_EQ(::fstat(out.get(), &info), 0);
  const std::string stream = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  EXPECT_FALSE(descriptorIsJournalStream(environment({{"JOURNAL_STREAM", stream + "0"}}), out.get()));
  StdoutLog standardOutput(out.get(), nullptr,
                           descriptorIsJournalStream(environment({{"JOURNAL_STREAM", stream}}), out.get()));
  std::string written;
  const std::pair<const char*, const char*> cases[] = {
      {"[Helper] \u2717 Export failed (manual): Kettle Ledger did not respond", "PRIORITY=3\n"},
      {"[Helper]   \u2717 Documents: No space left on device", "PRIORITY=3\n"},
      {"[Helper] \u26A0 JXA timed out after 5s", "PRIORITY=4\n"},
      {"[Helper] \u2713 Export OK (manual) \u2192 1 destination(s)", "PRIORITY=6\n"},
      {"[Helper] \u23ED Skipping '\u2717 Old' \u2014 sync disabled by user", "PRIORITY=6\n"},
  };
  for (const auto& [line, priority] : cases) {
    log.line(line);
    standardOutput.line(line);
    written += "<" + std::string(1, priority[9]) + ">" + line + "\n";
    char entry[512] = {};  // what the journal received, zeros after it
    ASSERT_GT(::recv(journal.get(), entry, sizeof entry, 0), 0) << line;
    const std::string text(entry, sizeof entry);
    EXPECT_TRUE(text.starts_with(priority) && text.find(line) != std::string::npos) << text;
  }
  EXPECT_EQ(files::readFile(home / "stdout"), written);
}

// What the system's log may show of a line: the event up to the first name
// or path ("" for all of it).
TEST(LogPrivacyTest, NamesAndPathsAreNotPublic) {
  for (const auto& [line, shown] : std::vector<std::pair<std::string, std::string>>{
           {"[Helper] \u2713 Export OK (manual) \u2192 2 destination(s)", ""},
           {"[Helper] \u23ED Skipping 'Biz' \u2014 sync disabled by user", "[Helper] \u23ED Skipping "},
           {"[Helper]   \u2192 /Users/a/Library/Mobile Documents/x.json", "[Helper]   \u2192 "},
           {"[Helper] Deleted iCloud files: biz-eur.json", "[Helper] Deleted iCloud files: "},
           {"[Helper] Recovered path for \"B: c\": /x", "[Helper] Recovered path for "}}) {
    EXPECT_EQ(line.substr(0, publicPartLength(line)), shown.empty() ? line : shown);
  }
}

}  // namespace
}  // namespace quillory::platform::posix
