#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "RunnerFixture.h"
#include "bridge/HostScripts.h"
#include "support/FakeClock.h"

namespace quillory::bridge::test {
namespace {

struct OutputCase {
  const char* name;
  const char* body;
  std::string expected;
  friend void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }
};

class RunnerOutputTest : public RunnerFixture, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(RunnerOutputTest, ReturnsTrimmedStandardOutputWithoutLogging) {
  EXPECT_EQ(run(GetParam().body), GetParam().expected);
  EXPECT_EQ(log.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunnerOutputTest,
    ::testing::Values(
        OutputCase{"SpacesAndNewlineAroundOk", R"(printf '  ok\n')", "ok"}, OutputCase{"Nothing", ":", ""},
        OutputCase{"LoneNewline", R"(printf '\n')", ""},
        OutputCase{"InnerSpaceKept", R"(printf '\n a  b \n\n')", "a  b"},
        // No-break space (Zs) before, line separator (Zl) and U+0085 after.
        OutputCase{"UnicodeSeparatorsTrimmed", R"(printf '\302\240 name \342\200\250\302\205')", "name"},
        OutputCase{"NonUtf8", R"(printf 'ok\377\376')", ""},
        // Read as it comes: characters and white space cut by the pauses.
        OutputCase{"PiecesJoined",
                   R"(printf ' \342'; sleep 0.1; printf '\200\250o'; sleep 0.1; printf 'k \302';
                   sleep 0.1; printf '\240 !\302'; sleep 0.1; printf '\240\n')",
                   "ok \u00A0 !"},
        OutputCase{"NonUtf8AfterAPause", R"(printf '{"a":1'; sleep 0.1; printf '\303(}')", ""},
        OutputCase{"ExitStatusIgnored", R"(printf partial; exit 3)", "partial"},
        // Far more than a pipe holds: undrained, the child would block until the time limit.
        OutputCase{"FloodOnStandardErrorDrained", "head -c 8000000 /dev/zero >&2; printf done", "done"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunnerFixture, ReturnsSeveralMegabytesWhole) {
  std::string expected;
  for (int i = 1; i <= 700000; ++i) expected += std::to_string(i) + "\n";
  expected.pop_back();  // the trailing newline is trimmed
  ASSERT_GT(expected.size(), 4'000'000u);
  EXPECT_EQ(run("exec seq 1 700000", "script", 30), expected);
  EXPECT_EQ(log.size(), 0u);
}

TEST_F(RunnerFixture, OutputPastTheLimitStopsTheScriptAndGivesNoAnswer) {
  constexpr std::size_t kLimit = 1 << 20;
  OsascriptRunner exact(dispatcher, clock, log, standIn("head -c 1048576 /dev/zero | tr '\\0' a", "exact"),
                        kLimit);
  EXPECT_EQ(exact.runScript("script", 30), std::string(kLimit, 'a'));
  EXPECT_EQ(log.size(), 0u);
  // Without the limit it would run into the time limit.
  OsascriptRunner endless(dispatcher, clock, log, standIn("exec yes", "endless"), kLimit);
  EXPECT_EQ(endless.runScript("script", 60), "");
  EXPECT_EQ(log.lines(), std::vector<std::string>{"[Helper] ⚠ JXA output passed 1 MiB — script stopped"});
}

TEST_F(RunnerFixture, ReportsARefusedAuthorizationFromTheEndOfStandardError) {
  const struct {
    const char* body;
    bool refused;
  } cases[] = {
      {"echo 'execution error: Not authorized to send Apple events to Kettle Ledger. (-1743)' >&2; exit 1",
       true},
      {"head -c 100000 /dev/zero >&2; echo 'execution error: (-1743)' >&2; exit 1", true},
      {"echo 'execution error: Error: Invalid index. (-1719)' >&2; exit 1", false},
  };
  for (const auto& c : cases) {
    OsascriptRunner runner(dispatcher, clock, log, standIn(c.body));
    const ScriptResult result = runner.run("script", 5);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.notAuthorized, c.refused) << c.body;
  }
  EXPECT_EQ(log.size(), 0u);
}

TEST_F(RunnerFixture, NoticesAQuickScriptsEndWithoutWaitingForAStep) {
  // The clock stands still, so the deadline never comes: only noticing the
  // child's end finishes the run, and nothing sleeps a polling step first.
  testing::FakeClock frozen;
  OsascriptRunner runner(dispatcher, frozen, log, standIn("printf ok"));
  EXPECT_EQ(runner.runScript("script", 60), "ok");
  EXPECT_EQ(frozen.sleepCount(), 0u);
}

TEST_F(RunnerFixture, ChildGetsTheFourArgumentsUnchangedAndOnlyTheStandardStreams) {
  // A descriptor opened without close-on-exec must not reach the child either.
  const int stray = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 3);
  const std::string script = std::string(kLibraryNameScript) + "\n\t'single' \"double\" $HOME %s \\ ✓ ";
  // ls lists its own descriptors: 0, 1, 2 and the one it reads the folder with.
  const std::string result =
      run(R"(printf '%s|' "$#"; for a in "$@"; do printf '[%s]' "$a"; done; exec ls /proc/self/fd)", script);
  ::close(stray);
  EXPECT_EQ(result, "4|[-l][JavaScript][-e][" + script + "]0\n1\n2\n3");
}

class LaunchFailureTest : public RunnerFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(LaunchFailureTest, GivesEmptyResultWithoutLogLineOrLeftovers) {
  const std::string kind = GetParam();
  fs::path executable = temp / "osascript";
  if (kind == "notExecutable") {
    temp.writeFile("osascript", "#!/bin/sh\nprintf ok\n");
  } else if (kind == "missingInterpreter") {
    temp.writeFile("osascript", "#!/nonexistent/sh\nprintf ok\n");
    ::chmod(executable.c_str(), 0755);
  }
  const std::size_t descriptors = openDescriptorCount();
  OsascriptRunner runner(dispatcher, clock, log, executable.string());
  EXPECT_EQ(runner.runScript("script", 5), "");
  EXPECT_EQ(log.size(), 0u);
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_TRUE(childrenOfThisProcess().empty());
  EXPECT_TRUE(dispatcher.globalCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, LaunchFailureTest,
                         ::testing::Values("missing", "notExecutable", "missingInterpreter"));

struct TimeoutCase {
  const char* name;
  double limit;
  std::string printed;
  friend void PrintTo(const TimeoutCase& c, std::ostream* os) { *os << c.name; }
};

class RunnerTimeoutTest : public RunnerFixture, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(RunnerTimeoutTest, StopsWithinOnePollingStepAfterTheDeadline) {
  const double limit = GetParam().limit;
  const double expectedLimit = std::isnan(limit) ? 0 : limit;
  OsascriptRunner runner(dispatcher, clock, log, standIn("exec sleep 30"));

  const auto start = std::chrono::steady_clock::now();
  const std::string result = runner.runScript("script", limit);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_EQ(result, "");
  EXPECT_GE(elapsed, expectedLimit);
  EXPECT_LE(elapsed, expectedLimit + OsascriptRunner::kPollingStepSeconds);
  EXPECT_EQ(log.lines(), std::vector<std::string>{timeoutLine(GetParam().printed)});
  EXPECT_TRUE(dispatcher.waitForGlobalTasks(std::chrono::seconds(15)));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, RunnerTimeoutTest,
    ::testing::Values(TimeoutCase{"FiveSeconds", 5.0, "5"}, TimeoutCase{"TruncatedToTwo", 2.9, "2"},
                      TimeoutCase{"NotANumberCountsAsZero", std::numeric_limits<double>::quiet_NaN(), "0"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillory::bridge::test
