// The dispatcher contract on the run-loop dispatcher, and what the run loop
// offers beyond it. (The test's own manual dispatcher is left to the engine
// and app tests that stand on it.)
#include <gtest/gtest.h>

#include "platform/DispatcherContractTest.h"
#include "platform/posix/RunLoopDispatcher.h"

namespace quillory::platform::test {
namespace {

using posix::RunLoopDispatcher;

struct RunLoop {
  using Type = RunLoopDispatcher;
  static bool pumpUntil(Type& d, const std::function<bool()>& done) { return d.runUntil(done, 10s); }
  static void pumpFor(Type& d, std::chrono::milliseconds duration) {
    d.runUntil([] { return false; }, duration);
  }
  static void settle() {}
};

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, DispatcherContract, RunLoop);

// With nothing queued on main, runUntil must still look at a condition that
// another thread makes true, instead of sleeping until the (hour-long) limit.
TEST(RunLoopDispatcherTest, RunUntilSeesConditionsSetElsewhere) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> flag{false};
  dispatcher.global(QualityOfService::utility, [&] { flag = true; });
  EXPECT_TRUE(dispatcher.runUntil([&] { return flag.load(); }, 1h));
}

// A main-queue task that throws still releases its `sync` caller; the
// exception goes on to the loop's caller.
TEST(RunLoopDispatcherTest, ATaskThatThrowsReleasesItsSyncCaller) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    dispatcher.sync([] { throw 1; });
    returned = true;
  });
  EXPECT_THROW(dispatcher.runUntil([&] { return returned.load(); }, 1h), int);
  EXPECT_TRUE(dispatcher.runUntil([&] { return returned.load(); }, 10s));
  returned ? caller.join() : caller.detach();  // a caller left waiting would hang the test
}

}  // namespace
}  // namespace quillory::platform::test
