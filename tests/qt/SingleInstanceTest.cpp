// One menu-bar helper per home folder: a second one hands over to the running
// one over the session bus, or, where it cannot, leaves at once, says why and
// touches nothing; one started while a command-line run holds the lock waits
// for it; one that can have no settings folder refuses to run; a running one
// quits cleanly on SIGTERM. The command line answers before any of that.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QStringList>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "QtPump.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/posix/SingleInstanceLock.h"
#include "platform/qt/TrayWatch.h"
#include "support/TempHome.h"

#if defined(__linux__)  // the hand-over over the session bus is Linux's
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include "PrivateBus.h"
#include "platform/qt/DesktopNotification.h"
#endif

namespace quillory::platform::qt::test {
namespace {

using Lock = posix::SingleInstanceLock;
using std::chrono::milliseconds;

// Started with posix_spawn (not QProcess, whose child runs in this process's
// memory and so confuses ThreadSanitizer); standard error joins the output.
// No session bus unless `environment` names one, so that no test reaches the
// desktop's own. TSAN_OPTIONS: the helper links the system's Qt, which is not
// built for ThreadSanitizer, and its D-Bus thread gives reports about Qt's own
// memory; the helper's logic runs under the sanitizer in the shell and engine
// tests.
std::unique_ptr<platform::ChildProcess> startHelper(const testing::TempHome& home,
                                                    const std::string& xdgConfigHome,
                                                    const std::vector<std::string>& environment = {},
                                                    const std::vector<std::string>& helperArguments = {}) {
  std::vector<std::string> arguments = {"HOME=" + home.path().string(), "XDG_CONFIG_HOME=" + xdgConfigHome,
                                        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (home / "no-bus").string(),
                                        "QT_QPA_PLATFORM=offscreen", "TSAN_OPTIONS=report_bugs=0"};
  arguments.insert(arguments.end(), environment.begin(), environment.end());
  arguments.insert(arguments.end(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", QUILLORY_HELPER_PATH});
  arguments.insert(arguments.end(), helperArguments.begin(), helperArguments.end());
  return platform::ChildProcess::spawn("/usr/bin/env", arguments);
}

// The exit code of a helper that ends within ten seconds, while this process's
// loop runs (it may serve the helper's bus); none when it did not end.
std::optional<int> exitCode(const std::unique_ptr<platform::ChildProcess>& helper) {
  if (!helper || !pumpUntil([&] { return helper->waitForExit(milliseconds(0)); }, 10000)) return std::nullopt;
  return helper->reap().code;
}

struct LeavingCase {
  std::vector<std::string> arguments;
  int status;
  std::string output;                // how the output begins
  const char* holder = nullptr;      // the program holding the lock, or none
  const char* xdgConfig = "config";  // XDG_CONFIG_HOME below the home: a folder of its own, or a file
};

class HelperLeaves : public ::testing::TestWithParam<LeavingCase> {};

// The command line is answered before the lock, the settings and the display,
// and a helper that may not run leaves before the display too: with no
// display to open (the xcb platform and no DISPLAY), a helper that got
// further would abort, and nothing may appear in the settings folder.
TEST_P(HelperLeaves, AtOnceWithoutTouchingAnything) {
  const LeavingCase& c = GetParam();
  testing::TempHome home;
  std::optional<Lock> running;
  if (c.holder) running.emplace(posix::defaultLockFile(home.path()), c.holder);
  const auto config = c.xdgConfig == std::string_view("file") ? home.writeFile(c.xdgConfig, "keep")
                                                              : home.makeFolder(c.xdgConfig);
  const auto before = files::listFolder(config / "quillory-helper");
  auto helper = startHelper(home, config.string(), {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"},
                            c.arguments);
  ASSERT_TRUE(helper);
  std::string output;
  helper->readOutput(output);
  EXPECT_EQ(exitCode(helper), c.status) << output;
  EXPECT_TRUE(output.starts_with(c.output)) << output;
  EXPECT_EQ(files::listFolder(config / "quillory-helper"), before);  // no settings file, nothing else
  // The lock file is made by a run only.
  EXPECT_EQ(files::exists(posix::defaultLockFile(home.path())), c.arguments.empty());
}

const LeavingCase kLeaving[] = {
    {{"--version", "--bogus", "-h"}, 0, "Usage: quillory-helper "},
    {{"--version"},
     0,
     "quillory-helper " QUILLORY_SHORT_VERSION " (" QUILLORY_BUILD_NUMBER ")\n" QUILLORY_COPYRIGHT
     "\nLicense MIT: "},
    {{"--verbose"}, 64, "quillory-helper: unknown option --verbose\nTry 'quillory-helper --help'."},
    {{"Finch.kledger"}, 64, "quillory-helper: unexpected argument Finch.kledger\n"},
    // The same home with settings of its own is the same helper.
    {{}, 1, "quillory-helper: Quillory Helper is already running (", posix::kMenuBarHelperProgram, "other"},
#if defined(__linux__)
    // Only Linux keeps the settings in a folder (macOS: the user defaults).
    {{}, 1, "quillory-helper: cannot run without a settings folder: ", nullptr, "file"},
    // macOS runs /usr/bin/osascript and asks its workspace.
    {{"--osascript=/x", "--assume-host-running", "--help"},
     0,
     "Usage: quillory-helper [--osascript PATH] [--assume-host-running] [--help | --version]\n\nQuillory "
     "Helper sits"},
    {{"--assume-host-running", "--osascript"},
     64,
     "quillory-helper: --osascript needs the path of a program\n"},
    {{"--osascript", "/nowhere"},
     1,
     "quillory-helper: cannot start the script launcher: /nowhere does not exist\n"},
#endif
};
// Named by their place in the table: the default name printed the row's bytes,
// pointers included, so each build gave the cases new names.
INSTANTIATE_TEST_SUITE_P(Cases, HelperLeaves, ::testing::ValuesIn(kLeaving),
                         [](const auto& info) { return "row" + std::to_string(info.index); });

#if defined(__linux__)
// Stands in for the desktop's notification daemon, on a private session bus
// of its own: keeps each summary.
class NotificationServer final : public QDBusVirtualObject {
 public:
  // False without dbus-daemon (the test skips).
  bool start() {
    if (!bus.daemonFound()) return false;
    connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("notifications"));
    EXPECT_TRUE(connection.registerVirtualObject(kPath, this));
    EXPECT_TRUE(connection.registerService(QStringLiteral("org.freedesktop.Notifications")));
    return true;
  }
  ~NotificationServer() override {
    connection.unregisterObject(kPath);
    QDBusConnection::disconnectFromBus(QStringLiteral("notifications"));
  }
  std::string address() const { return "DBUS_SESSION_BUS_ADDRESS=" + bus.address().toStdString(); }
  QString introspect(const QString&) const override { return {}; }
  // Each notification's identifier is its place in `summaries`, from 1.
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QStringLiteral("Notify")) return false;
    summaries.push_back(message.arguments().value(3).toString());
    connection.send(message.createReply(QVariant::fromValue(static_cast<uint>(summaries.size()))));
    return true;
  }
  // A click on the notification `id` (the default action) or on one of its actions.
  void click(uint id, const QString& action = QStringLiteral("default")) {
    connection.send(QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.Notifications"),
                                               QStringLiteral("ActionInvoked"))
                    << id << action);
  }
  const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
  PrivateBus bus;
  QDBusConnection connection{QString()};
  QStringList summaries;
};

// On a private session bus, without a tray (the offscreen platform has
// none): a helper started while a command-line run holds the lock (for one
// command) waits for it, then runs and says it has no tray; a second launch
// makes it show itself (here by the notification, since there is no menu to
// open) and exits 0; the first quits cleanly on SIGTERM.
TEST(HandOver, SecondLaunchExitsAndTheRunningHelperShowsItself) {
  NotificationServer server;
  if (!server.start()) GTEST_SKIP() << "dbus-daemon is not installed";
  testing::TempHome home;

  std::optional<Lock> commandLine(std::in_place, posix::defaultLockFile(home.path()),
                                  posix::kCommandLineProgram);
  auto first = startHelper(home, "", {server.address()});
  ASSERT_TRUE(first);
  std::string output;
  ASSERT_TRUE(pumpReading(*first, output, [&] {
    return output.find("waiting for quillory-helper-cli (process ") != std::string::npos;
  })) << output;
  commandLine.reset();
  ASSERT_TRUE(pumpReading(*first, output, [&] {
    return output.find(TrayWatch::kNoTrayLine) != std::string::npos &&
           server.summaries.contains(QStringLiteral("Quillory Helper has no tray icon"));
  })) << output;

  EXPECT_EQ(exitCode(startHelper(home, "", {server.address()})), 0);
  EXPECT_TRUE(pumpUntil([&] {
    return server.summaries.contains(QStringLiteral("Quillory Helper is already running"));
  })) << server.summaries.join(QStringLiteral(", ")).toStdString();

  first->terminate();
  ASSERT_EQ(exitCode(first), 128 + SIGTERM);
  EXPECT_TRUE(Lock(posix::defaultLockFile(home.path()), "test").acquired()) << "released";
  // A start that fails (here: the settings folder is a file) says why in a
  // notification too, not only on standard error.
  EXPECT_EQ(exitCode(startHelper(home, home.writeFile("config-file", "x").string(), {server.address()})), 1);
  EXPECT_TRUE(server.summaries.contains(QStringLiteral("Quillory Helper could not start")));
}

// A click on one of the helper's notifications (the service's "default"
// action on the identifier it gave) reaches the helper; another action, or a
// click on another program's notification, does not.
TEST(DesktopNotifier, OnlyAClickOnItsOwnNotificationIsPassedOn) {
  NotificationServer server;
  if (!server.start()) GTEST_SKIP() << "dbus-daemon is not installed";
  int clicks = 0;
  {
    DesktopNotifier notifier([&clicks] { ++clicks; },
                             QDBusConnection::connectToBus(server.bus.address(), QStringLiteral("helper")));
    notifier.notify("Quillory Helper could not sync", "Why");
    ASSERT_TRUE(pumpUntil([&] { return server.summaries.size() == 1; }));
    pumpFor(200);  // the answer, with its identifier, reaches the notifier
    for (const auto& [id, action] : {std::pair{2u, "default"}, {1u, "open"}, {1u, "default"}})
      server.click(id, QString::fromLatin1(action));
    EXPECT_TRUE(pumpUntil([&] { return clicks > 0; }));
    pumpFor(200);
  }
  EXPECT_EQ(clicks, 1);
  QDBusConnection::disconnectFromBus(QStringLiteral("helper"));
}

// The helper against a host that keeps refusing its scripts, on a clock thirty
// times as fast (libfaketime), so that the three-minute idle rule fires six
// seconds after each activation of the host (its bus name taken again): five
// failed idle runs give one notification, a different failure a second. A
// click on the first does what the tray allows: without a tray, nothing.
// The script launcher is a shell script, which answers well within the name
// script's 5-second limit (a sixth of a second here) on a loaded machine.
TEST(FailureNotifications, OneForFiveFailedIdleRunsAndOneForADifferentFailure) {
  const std::string faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
  if (::access(faketime.c_str(), R_OK) != 0) GTEST_SKIP() << "libfaketime is not installed";
  NotificationServer server;
  if (!server.start()) GTEST_SKIP() << "dbus-daemon is not installed";
  const QString host = QStringLiteral("test.kettleledger.desktop2");
  testing::TempHome home;
  const std::filesystem::path launcher =
      home.writeFile("osascript",
                     "#!/bin/sh\n[ -e \"$0.hangs\" ] && exec sleep 3600\n"
                     "echo 'execution error: Not authorized to send Apple events to Kettle Ledger. "
                     "(-1743)' >&2\nexit 1\n");
  std::filesystem::permissions(launcher, std::filesystem::perms::owner_all);
  auto helper = startHelper(home, "",
                            {server.address(), "LD_PRELOAD=" + faketime, "FAKETIME=+0 x30", "NO_FAKE_STAT=1",
                             "ASAN_OPTIONS=verify_asan_link_order=0"},
                            {"--osascript", launcher.string()});
  ASSERT_TRUE(helper);
  std::string output;
  const auto failedIdleRuns = [&output] {
    return QString::fromStdString(output).count(QString::fromUtf8("✗ Export failed (idle"));
  };
  const QString failure = QStringLiteral("Quillory Helper could not sync");
  for (int run = 1; run <= 6; ++run) {
    // A different failure: the name script runs past its time limit.
    if (run == 6) home.writeFile("osascript.hangs", "");
    ASSERT_TRUE(server.connection.registerService(host));
    ASSERT_TRUE(pumpReading(*helper, output, [&] { return failedIdleRuns() == run; })) << output;
    ASSERT_TRUE(server.connection.unregisterService(host));
    if (run == 1) {
      ASSERT_TRUE(pumpUntil([&] { return server.summaries.contains(failure); })) << output;
      server.click(static_cast<uint>(server.summaries.indexOf(failure) + 1));
    }
    // The fifth run comes more than the ten minutes between two
    // notifications after the first.
    if (run < 5) continue;
    const qsizetype expected = run == 5 ? 1 : 2;
    (void)pumpUntil([&] { return server.summaries.count(failure) > expected; }, 2000);
    EXPECT_EQ(server.summaries.count(failure), expected) << server.summaries.join(u',').toStdString();
  }
  EXPECT_FALSE(server.summaries.contains(QStringLiteral("Quillory Helper is already running")));
  helper->terminate();
  ASSERT_TRUE(helper->waitForExit(std::chrono::seconds(10)));
}

#endif

}  // namespace
}  // namespace quillory::platform::qt::test
