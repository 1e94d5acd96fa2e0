#include <gtest/gtest.h>

#include <QDialog>
#include <QTimer>

#include "QtPump.h"
#include "platform/DispatcherContractTest.h"
#include "platform/qt/QtDispatcher.h"

namespace quillory::platform::test {
namespace {

using qt::QtDispatcher;

struct QtLoop {
  using Type = QtDispatcher;
  static bool pumpUntil(Type&, const std::function<bool()>& done) { return qt::test::pumpUntil(done, 10000); }
  static void pumpFor(Type&, std::chrono::milliseconds duration) {
    qt::test::pumpFor(static_cast<int>(duration.count()));
  }
  // Events the dispatcher posted must not run its dropped tasks later.
  static void settle() { qt::test::pumpFor(30); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, DispatcherContract, QtLoop);

// Any modal window holds the timers, also one that never entered a ModalScope.
TEST(QtDispatcherTest, AModalDialogHoldsTheTimers) {
  QtDispatcher dispatcher;
  int ticks = 0;
  dispatcher.repeatOnMain(20ms, [&] { ++ticks; });
  ASSERT_TRUE(qt::test::pumpUntil([&] { return ticks >= 1; }));
  QDialog dialog;
  const int held = ticks;
  QTimer::singleShot(150, &dialog, &QDialog::accept);
  dialog.exec();
  EXPECT_LE(ticks, held + 1);  // at most a tick that was due as the dialog opened
}

}  // namespace
}  // namespace quillory::platform::test
