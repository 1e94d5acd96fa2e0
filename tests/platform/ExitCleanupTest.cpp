#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>

#include "platform/posix/ChildProcess.h"
#include "platform/posix/ExitCleanup.h"

namespace quillory::platform::posix {
namespace {

struct StopCase {
  bool ignoresTerm;  // the child inherits SIGTERM ignored
  int endedBy;
};

class StopChildGroupsTest : public testing::TestWithParam<StopCase> {};

// Every started child is stopped, with its whole group; one that ignores the
// termination request is killed once the grace period has passed.
TEST_P(StopChildGroupsTest, EndsEveryRegisteredGroup) {
  if (GetParam().ignoresTerm) ::signal(SIGTERM, SIG_IGN);
  auto child = ChildProcess::spawn("/bin/sleep", {"100"});
  ::signal(SIGTERM, SIG_DFL);
  ASSERT_TRUE(child);
  exitcleanup::stopChildGroups(std::chrono::milliseconds(200));
  ASSERT_TRUE(child->waitForExit(std::chrono::seconds(10)));
  EXPECT_EQ(child->reap().signal, GetParam().endedBy);
}

INSTANTIATE_TEST_SUITE_P(Scripts, StopChildGroupsTest,
                         testing::Values(StopCase{false, SIGTERM}, StopCase{true, SIGKILL}));

}  // namespace
}  // namespace quillory::platform::posix
