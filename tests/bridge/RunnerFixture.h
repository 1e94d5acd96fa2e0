#pragma once
// What the script-runner tests share: stand-in executables written as small
// /bin/sh scripts into a real temporary folder, a runner over a dispatcher
// whose global tasks run on threads the test can join, and probes of this
// process's children, descriptors and threads read from /proc.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "bridge/OsascriptRunner.h"
#include "platform/posix/SystemClock.h"
#include "support/CapturingLog.h"
#include "support/ManualDispatcher.h"
#include "support/TempHome.h"

namespace quillory::bridge::test {

namespace fs = std::filesystem;

inline std::string timeoutLine(const std::string& seconds) {
  return "[Helper] ⚠ JXA timed out after " + seconds +
         "s — check System Settings › Privacy & Security › Automation";
}

// Process ids whose /proc stat entry matches: `field` 4 is the parent, 5 the
// process group. Zombies adopted by another process are left out: reaping
// them is their new parent's business, and some init processes take a while.
inline std::set<int> processesWithStatField(int field, int value) {
  std::set<int> found;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    // The process may end while it is read: that is a read error, not a test failure.
    std::string stat;
    try {
      std::ifstream in(it->path() / "stat");
      std::getline(in, stat);
    } catch (const std::exception&) {
      continue;
    }
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 > stat.size()) continue;
    std::istringstream rest(stat.substr(close + 2));  // state ppid pgrp ...
    std::string state;
    int ppid = 0;
    int pgrp = 0;
    if (!(rest >> state >> ppid >> pgrp)) continue;
    if (state == "Z" && ppid != static_cast<int>(::getpid())) continue;
    if ((field == 4 ? ppid : pgrp) == value) found.insert(std::stoi(name));
  }
  return found;
}

inline std::set<int> childrenOfThisProcess() {
  return processesWithStatField(4, static_cast<int>(::getpid()));
}
inline std::set<int> processGroupMembers(int pgid) { return processesWithStatField(5, pgid); }

inline std::size_t openDescriptorCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

inline int threadCount() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

class RunnerFixture : public ::testing::Test {
 protected:
  // Writes an executable /bin/sh script; "@DIR@" in the body becomes the
  // temporary folder's path.
  std::string standIn(std::string_view body, const std::string& name = "osascript") const {
    std::string text(body);
    for (auto at = text.find("@DIR@"); at != std::string::npos; at = text.find("@DIR@")) {
      text.replace(at, 5, temp.path().string());
    }
    const fs::path file = temp.writeFile(name, "#!/bin/sh\n" + text + "\n");
    ::chmod(file.c_str(), 0755);
    return file.string();
  }

  std::string run(std::string_view body, const std::string& script = "script", double limit = 5) {
    OsascriptRunner runner(dispatcher, clock, log, standIn(body));
    return runner.runScript(script, limit);
  }

  testing::TempHome temp;
  testing::ManualDispatcher dispatcher;
  platform::posix::SystemClock clock;
  testing::CapturingLog log;
};

}  // namespace quillory::bridge::test
