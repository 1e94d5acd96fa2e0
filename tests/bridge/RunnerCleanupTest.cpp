#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "RunnerFixture.h"
#include "platform/Dispatcher.h"

namespace quillory::bridge::test {
namespace {

struct CleanupCase {
  const char* name;
  // Writes the stand-in's process id (its group id) to @DIR@/pid.
  const char* body;
  double limit;
  std::string expected;
  bool logsLine;  // the time-out line, or the output-limit line
  std::size_t outputLimit = OsascriptRunner::kOutputLimitBytes;
  friend void PrintTo(const CleanupCase& c, std::ostream* os) { *os << c.name; }
};

class RunnerCleanupTest : public RunnerFixture, public ::testing::WithParamInterface<CleanupCase> {
 protected:
  int readPid(const std::string& name) const {
    std::ifstream in(temp / name);
    int pid = 0;
    in >> pid;
    return pid;
  }

  // Polls until `done` holds or a few seconds have passed.
  template <typename Condition>
  static bool eventually(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
};

TEST_P(RunnerCleanupTest, LeavesNoProcessDescriptorOrThread) {
  const CleanupCase& c = GetParam();
  // ThreadSanitizer's runtime starts a thread of its own when the process
  // first creates one; make that happen before the threads are counted.
  std::thread([] {}).join();
  const std::size_t descriptors = openDescriptorCount();
  const int threads = threadCount();
  const auto start = std::chrono::steady_clock::now();
  {
    // The runner dies right after the call, while the background work goes on.
    OsascriptRunner runner(dispatcher, clock, log, standIn(c.body), c.outputLimit);
    EXPECT_EQ(runner.runScript("script", c.limit), c.expected);
  }
  // Not a timing check: the processes that keep the output open would hold
  // the call for 30 seconds or more if the runner waited for them.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(log.size(), c.logsLine ? 1u : 0u);
  const int group = readPid("pid");
  ASSERT_GT(group, 0);

  EXPECT_TRUE(dispatcher.waitForGlobalTasks(std::chrono::seconds(15)))
      << "reader or reaping task still running";
  EXPECT_TRUE(eventually([&] { return processGroupMembers(group).empty(); }))
      << "group " << group << " alive";
  EXPECT_TRUE(eventually([] { return childrenOfThisProcess().empty(); })) << "child or zombie left";
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(threadCount(), threads);

  // A process that left the group on purpose is out of reach; end it here.
  if (const int escaped = readPid("escaped"); escaped > 0) ::kill(escaped, SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunnerCleanupTest,
    ::testing::Values(
        CleanupCase{"ChildIgnoresTermination",
                    "echo $$ > @DIR@/pid; trap '' TERM; while :; do sleep 0.1; done", 1, "", true},
        CleanupCase{"GrandchildIgnoresTerminationAndHoldsOutput",
                    "echo $$ > @DIR@/pid; sh -c 'trap \"\" TERM; exec sleep 60' & exec sleep 60", 1, "",
                    true},
        CleanupCase{
            "GrandchildOutsideTheGroupHoldsOutput",
            "echo $$ > @DIR@/pid; setsid sh -c 'echo $$ > @DIR@/escaped; exec sleep 30' & exec sleep 60", 1,
            "", true},
        // The child ends at once; what it started keeps the output open.
        CleanupCase{"FinishedChildLeavesGrandchildHoldingOutput",
                    "echo $$ > @DIR@/pid; printf ok; sleep 30 &", 5, "ok", false},
        CleanupCase{"OutputPastTheLimit", "echo $$ > @DIR@/pid; yes & exec yes", 60, "", true, 1 << 16}),
    [](const auto& info) { return std::string(info.param.name); });

// A dispatcher that is shutting down: it destroys every task without running it.
class DroppingDispatcher final : public platform::Dispatcher {
 public:
  void async(Task) override {}
  void sync(Task) override {}
  void global(platform::QualityOfService, Task) override {}
  void repeatOnMain(std::chrono::milliseconds, Task) override {}
  bool isMainThread() const override { return false; }
  void enterModal() override {}
  void exitModal() override {}
  int modalDepth() const override { return 0; }
};

TEST_F(RunnerFixture, DroppedTasksNeitherHangTheCallNorLeaveAChild) {
  DroppingDispatcher dropping;
  const std::size_t descriptors = openDescriptorCount();
  OsascriptRunner finishing(dropping, clock, log, standIn("printf ok", "finishing"));
  EXPECT_EQ(finishing.runScript("script", 5), "ok");  // read on the calling thread
  OsascriptRunner hanging(dropping, clock, log, standIn("exec sleep 30", "hanging"));
  EXPECT_EQ(hanging.runScript("script", 0.5), "");
  EXPECT_EQ(log.lines(), std::vector<std::string>{timeoutLine("0")});
  EXPECT_TRUE(childrenOfThisProcess().empty());
  EXPECT_EQ(openDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace quillory::bridge::test
