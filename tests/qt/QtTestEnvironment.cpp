// One QApplication for the whole test binary, on the offscreen platform unless
// another is chosen. Made when the tests start (not when they are only listed).

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    application_.reset();
  }

 private:
  int argc_ = 1;
  char name_[9] = "qt_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

// ThreadSanitizer suppressions for qt_tests, compiled in: ThreadSanitizer asks
// the program for them through __tsan_default_suppressions when it starts, and
// other builds never call the function.
//
// Qt, libdbus and GLib are not built with ThreadSanitizer, and Qt's QMutex and
// QWaitCondition wait on futexes that it cannot see. So the hand-overs between
// Qt's D-Bus connection thread ("QDBusConnection") and the main thread during
// a blocking bus call or a received signal look unsynchronised to it, although
// Qt orders them: reply and event objects allocated on one thread and freed on
// the other, the wait condition of the blocking call, GLib's wake-up
// descriptor. "called_from_lib" makes it ignore what these libraries do
// through its interceptors (allocation, freeing, descriptors); the accesses
// made by the helper's own code are still checked. The dispatcher hands its
// tasks over without Qt (its own mutex and a pipe), so its tests, the engine
// and the menu code are fully covered.
//
// On an X display (the QtAlertOnX cases) Qt's xcb reader thread hands events
// to the main thread the same way, and Xlib's display lock is still held when
// the application ends. When the bus daemon goes away, Qt's D-Bus thread
// drops the dead connection's signal hooks and reads the receiving
// workspace's meta-object under its own connection lock; the workspace is
// deleted later on the main thread under that lock.

extern "C" const char* __tsan_default_suppressions();

extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6DBus.so.6\n"
         "called_from_lib:libdbus-1.so.3\n"
         "called_from_lib:libglib-2.0.so.0\n"
         "called_from_lib:libQt6XcbQpa.so.6\n"
         "called_from_lib:libxcb.so.1\n"
         "mutex:libX11.so.6\n"
         "race:quillory::platform::qt::DBusWorkspace::metaObject\n";
}
