// Telling that the host runs, and the script runner over stand-in executables: small /bin/sh scripts written
// into a real temporary folder, run over a dispatcher whose global tasks run
// on threads the test can join.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/HostScripts.h"
#include "bridge/OsascriptRunner.h"
#include "platform/Files.h"
#include "platform/posix/SystemClock.h"
#include "support/CapturingLog.h"
#include "support/FakeWorkspace.h"
#include "support/ManualDispatcher.h"
#include "support/ProcessFigures.h"
#include "support/TempHome.h"

namespace quillory::bridge::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string timeoutLine(const std::string& seconds) {
  return "[Helper] ⚠ JXA timed out after " + seconds +
         "s — check System Settings › Privacy & Security › Automation";
}

int readPid(const fs::path& file) { return std::atoi(platform::files::readFile(file).value_or("0").c_str()); }

class RunnerFixture : public ::testing::Test {
 protected:
  // Writes an executable /bin/sh script into the temporary folder, which the
  // script finds as ${0%/*}; it first writes its process id (its group id)
  // to ${0%/*}/pid.
  std::string standIn(std::string_view body, const std::string& interpreter = "#!/bin/sh") const {
    const fs::path file =
        temp.writeFile("osascript", interpreter + "\necho $$ > ${0%/*}/pid\n" + std::string(body) + "\n");
    ::chmod(file.c_str(), 0755);
    return file.string();
  }

  testing::TempHome temp;
  testing::ManualDispatcher dispatcher;
  testing::CapturingLog log;
  platform::posix::SystemClock clock;
};

// (That nothing is left: the next case; that the exit status is ignored: the
// faults' tests.)
TEST_F(RunnerFixture, ReturnsTrimmedStandardOutput) {
  // A descriptor opened without close-on-exec must not reach the child.
  const int stray = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 3);
  const std::string script = std::string(kLibraryNameScript) + "\n\t'single' \"double\" $HOME %s \\ ✓ ";
  // The stand-in's body, its output as returned, whether the permission was refused.
  const std::tuple<const char*, std::string, bool> cases[] = {
      // No-break space (Zs) before, line separator (Zl) and a newline after.
      {R"(printf '\302\240 ok \342\200\250\n')", "ok", false},
      // The four arguments unchanged; ls lists its own descriptors: 0, 1, 2
      // and the one it reads the folder with.
      {R"(printf '%s|' "$#"; printf '[%s]' "$@"; exec ls /dev/fd/)",
       "4|[-l][JavaScript][-e][" + script + "]0\n1\n2\n3", false},
      // A refused permission is told by its code, in whatever language the message is, after far
      // more than a pipe holds (undrained, the child would block until the time limit).
      {"head -c 8000000 /dev/zero >&2; printf 'Ausf\303\274hrungsfehler: Keine Berechtigung (-1743)\n' >&2;"
       "printf done; exit 1",
       "done", true},
  };
  for (const auto& [body, expected, refused] : cases) {
    // The child's end is noticed: a runner that waited for the limit would hang.
    const ScriptResult result = OsascriptRunner(dispatcher, log, clock, standIn(body)).run(script, 1h);
    EXPECT_EQ(result.output, expected) << body;
    EXPECT_EQ(result.notAuthorized, refused) << body;
  }
  // Executables that cannot be started give nothing.
  for (const std::string& executable :
       {(temp / "missing").string(), standIn("printf ok", "#!/nonexistent/sh")})
    EXPECT_EQ(OsascriptRunner(dispatcher, log, clock, executable).run(script, 5s).output, "") << executable;
  ::close(stray);
  EXPECT_TRUE(log.lines().empty());  // (output that is not UTF-8: the faults' tests)
}

TEST_F(RunnerFixture, LeavesNoProcessDescriptorOrThread) {
  // The stand-in's body, the time limit, the output returned, the one log line if
  // any; output is limited to 1 MiB.
  const std::tuple<const char*, double, std::string, std::string> cases[] = {
      // The grandchild ignores termination and holds the output; a limit of
      // 2.9 seconds is logged as 2.
      {"sh -c 'trap \"\" TERM; exec sleep 60' & exec sleep 60", 2.9, "", timeoutLine("2")},
      // The grandchild left the group and holds the output.
      {"setsid sh -c 'exec sleep 30' & echo $! > ${0%/*}/escaped; exec sleep 60", 1, "", timeoutLine("1")},
      // The child ends at once; what it started keeps the output open.
      {"printf ok; sleep 30 &", 5, "ok", ""},
      {"head -c 1048576 /dev/zero | tr '\\0' a", 30, std::string(1 << 20, 'a'), ""},
      {"yes & exec yes", 60, "", "[Helper] ⚠ JXA output passed 1 MiB — script stopped"},
  };
  for (const auto& [body, limit, expected, line] : cases) {
    SCOPED_TRACE(body);
    log.clear();
    fs::remove(temp / "escaped");
    const long descriptors = testing::takeProcessFigures().fds;
    const auto start = std::chrono::steady_clock::now();
    {
      // The runner dies right after the call, while the background work goes on.
      OsascriptRunner runner(dispatcher, log, clock, standIn(body), 1 << 20);
      EXPECT_EQ(runner.run("script", ScriptTimeout(limit)).output, expected);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Stopped between the deadline and one polling step after it.
    const auto late = elapsed - ScriptTimeout(limit);
    EXPECT_TRUE(line.find("timed out") == std::string::npos ||
                (late >= 0s && late <= OsascriptRunner::kPollingStep));
    // Not a timing check: the processes that keep the output open would hold
    // the call for 30 seconds or more if the runner waited for them.
    EXPECT_LT(elapsed, 20s);
    EXPECT_EQ(log.lines(), line.empty() ? std::vector<std::string>{} : std::vector<std::string>{line});
    const int group = readPid(temp / "pid");
    ASSERT_GT(group, 0);

    EXPECT_TRUE(dispatcher.drain(15s)) << "reaping task still running";
    EXPECT_TRUE(dispatcher.pumpUntil([&] { return !testing::processGroupHasMembers(group); }, 5s))
        << "group " << group << " alive";
    EXPECT_TRUE(dispatcher.pumpUntil([] { return testing::takeProcessFigures().children == 0; }, 5s))
        << "child or zombie left";
    EXPECT_EQ(testing::takeProcessFigures().fds, descriptors);

    // A process that left the group on purpose is out of reach; end it here.
    if (const int escaped = readPid(temp / "escaped"); escaped > 0) ::kill(escaped, SIGKILL);
  }
}

TEST_F(RunnerFixture, ADroppedReapingTaskNeitherHangsTheCallNorLeavesAChild) {
  const long descriptors = testing::takeProcessFigures().fds;
  {
    // Queued and never run: the dispatcher drops the task when it goes. A
    // limit that is not a number counts as zero.
    testing::ManualDispatcher dropping(testing::ManualDispatcher::GlobalMode::queued);
    OsascriptRunner hanging(dropping, log, clock, standIn("exec sleep 30"));
    EXPECT_EQ(hanging.run("script", ScriptTimeout(std::numeric_limits<double>::quiet_NaN())).output, "");
  }
  EXPECT_EQ(log.lines(), std::vector<std::string>{timeoutLine("0")});
  EXPECT_EQ(testing::takeProcessFigures().children, 0);
  EXPECT_EQ(testing::takeProcessFigures().fds, descriptors);
}

TEST(IsHostRunning, ComparesBundleIdentifiersExactly) {
  const std::string host = "test.kettleledger.desktop2";
  testing::FakeWorkspace workspace;
  workspace.setRunning({"Test.KettleLedger.Desktop2", std::nullopt, "test.kettleledger.desktop",
                        host + ".helper", " " + host, std::string()});
  EXPECT_FALSE(isHostRunning(workspace, host));
  workspace.setRunning({"com.example.a", std::nullopt, host});
  EXPECT_TRUE(isHostRunning(workspace, host));
}

}  // namespace
}  // namespace quillory::bridge::test
