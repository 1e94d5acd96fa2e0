// The dispatcher contract on the manual and the run-loop dispatcher, and what
// the run loop offers beyond it. (The manual dispatcher's pumping helpers are
// what every engine and app test stands on.)
#include <gtest/gtest.h>

#include "platform/DispatcherContractTest.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "support/ManualDispatcher.h"

namespace quillory::platform::test {
namespace {

using posix::RunLoopDispatcher;
using testing::ManualDispatcher;

// Virtual time moves on with real time while the test pumps.
struct Manual {
  using Type = ManualDispatcher;
  static bool pumpUntil(Type& d, const std::function<bool()>& done) {
    return d.pumpUntil(
        [&] {
          d.tickTimersFor(5ms);
          return done();
        },
        10s);
  }
  static void pumpFor(Type& d, std::chrono::milliseconds duration) {
    d.tickTimersFor(duration);
    d.runMainUntilIdle();
  }
  static void settle() {}
};

struct RunLoop {
  using Type = RunLoopDispatcher;
  static bool pumpUntil(Type& d, const std::function<bool()>& done) { return d.runUntil(done, 10s); }
  static void pumpFor(Type& d, std::chrono::milliseconds duration) {
    d.runUntil([] { return false; }, duration);
  }
  static void settle() {}
};

using Dispatchers = ::testing::Types<Manual, RunLoop>;
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, DispatcherContract, Dispatchers);

// With nothing queued on main, runUntil must still look at a condition that
// another thread makes true, instead of sleeping until the (hour-long) limit.
TEST(RunLoopDispatcherTest, RunUntilSeesConditionsSetElsewhere) {
  RunLoopDispatcher dispatcher;
  std::atomic<bool> flag{false};
  dispatcher.global(QualityOfService::utility, [&] { flag = true; });
  EXPECT_TRUE(dispatcher.runUntil([&] { return flag.load(); }, 1h));
}

}  // namespace
}  // namespace quillory::platform::test
