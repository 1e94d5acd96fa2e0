// The process entry of quillory-helper: takes the single-instance lock, makes
// the application object and every platform piece, hands them to the sync
// engine and the application delegate, and runs the event loop. This is the
// only place where the implementations of the platform interfaces are chosen.

#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <variant>
#include <vector>

#include "app/AppDelegate.h"
#include "app/LaunchOptions.h"
#include "bridge/OsascriptRunner.h"
#include "engine/ExportManager.h"
#include "platform/AutomationPermission.h"
#include "platform/Files.h"
#include "platform/StaticWorkspace.h"
#include "platform/posix/CappedFileLog.h"
#include "platform/posix/ExitCleanup.h"
#include "platform/posix/JsonDefaults.h"
#include "platform/posix/SingleInstanceLock.h"
#include "platform/posix/StdoutLog.h"
#include "platform/posix/SystemClock.h"
#include "platform/posix/TeeLog.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtDesktopServices.h"
#include "platform/qt/QtDispatcher.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/StatusIcon.h"
#include "presentation/RelativeDateText.h"
#include "presentation/VersionText.h"

#if defined(__APPLE__)
#include <QMessageBox>
#include <QPixmap>

#include "platform/macos/MacApplication.h"
#include "platform/macos/MacAutomationPermission.h"
#include "platform/macos/MacDefaults.h"
#include "platform/macos/MacLoginItemService.h"
#include "platform/macos/MacNotifier.h"
#include "platform/macos/MacSystemLog.h"
#include "platform/macos/MacWorkspace.h"
#else
#include "platform/posix/SystemLog.h"
#include "platform/qt/DBusWorkspace.h"
#include "platform/qt/DesktopNotification.h"
#include "platform/qt/DesktopPresence.h"
#include "platform/qt/XdgLoginItemService.h"
#endif

namespace {

using namespace quillory;
namespace fs = std::filesystem;
namespace posix = platform::posix;
namespace qt = platform::qt;
namespace exitcleanup = platform::posix::exitcleanup;

constexpr const char* kProgram = posix::kMenuBarHelperProgram;
// How long a started script gets to end after the termination request.
constexpr std::chrono::milliseconds kStopGrace{1000};
// How long a helper started while a command-line run holds the lock waits.
constexpr std::chrono::minutes kCommandLineWait{2};

// Set on the watcher thread, read on the main thread after the event loop.
std::atomic<bool> applicationReady{false};
std::atomic<int> quitSignal{0};
// The alerts of the running application, told to give no answer when a
// signal ends it (an open first-sync question must not be stored as a "no").
std::atomic<qt::QtAlertPresenter*> runningAlerts{nullptr};
// The engine of the running application, whose queued switch-ons and
// switch-offs a signal stores before the process ends.
std::atomic<engine::ExportManager*> runningManager{nullptr};

// SIGTERM, SIGINT or SIGHUP: quit as the menu's quit item does, on the main
// thread, leaving every event loop (also an open alert's). Should the main
// thread not get there in time, the cleanup is done here.
void quitOnSignal(int signal) {
  quitSignal.store(signal);
  if (qt::QtAlertPresenter* alerts = runningAlerts.load()) alerts->abandonAlerts();
  if (applicationReady.load(std::memory_order_acquire)) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  }
  // Every answer the menu has accepted is stored now, whatever the queue is
  // still busy with; its deletions are left to the next start's pruning.
  if (engine::ExportManager* manager = runningManager.load()) (void)manager->storeQueuedAnswers();
  if (applicationReady.load(std::memory_order_acquire)) std::this_thread::sleep_for(std::chrono::seconds(5));
  exitcleanup::cleanUpAndExit(signal, kStopGrace);
}

// A command-line run holds the lock only for one command: wait for it (up to
// two minutes) rather than leave the user without a menu for the session.
// Another menu-bar helper is given way to at once.
void waitForCommandLineRun(posix::SingleInstanceLock& lock) {
  using Outcome = posix::SingleInstanceLock::Outcome;
  // A holder that has just taken the lock may not have written its name yet.
  if (lock.outcome() == Outcome::heldElsewhere && lock.holderProgram().empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    lock.retry();
  }
  if (lock.outcome() != Outcome::heldElsewhere || lock.holderProgram() != posix::kCommandLineProgram) return;
  std::cerr << kProgram << ": waiting for " << posix::kCommandLineProgram;
  if (const auto pid = lock.holderPid()) std::cerr << " (process " << *pid << ")";
  std::cerr << " to finish" << std::endl;
  const auto deadline = std::chrono::steady_clock::now() + kCommandLineWait;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (lock.retry() != Outcome::heldElsewhere || lock.holderProgram() != posix::kCommandLineProgram) return;
  }
}

#if defined(__APPLE__)
// iCloud Drive carries the documents to the phone: a run says when it seems off.
constexpr bool kWarnWhenICloudDriveOff = true;
using PlatformDefaults = platform::macos::MacDefaults;
using PlatformWorkspace = platform::macos::MacWorkspace;
using PlatformLoginItems = platform::macos::MacLoginItemService;
using PlatformAutomation = platform::macos::MacAutomationPermission;
using PlatformNotifier = platform::macos::MacNotifier;

std::unique_ptr<PlatformDefaults> makeDefaults(const fs::path&, platform::Log&, platform::Clock&) {
  return std::make_unique<PlatformDefaults>();
}
std::unique_ptr<PlatformLoginItems> makeLoginItems(const fs::path&) {
  return std::make_unique<PlatformLoginItems>();
}
// The system symbol drawn by AppKit; the bundled template icon when the
// symbol cannot be had or drawn. With `error`, the template's error badge
// is drawn onto it.
QIcon makeStatusIcon(bool error) {
  const auto png = platform::macos::statusIconPng(16.0, 2.0);
  QPixmap pixmap;
  if (!png || !png->isTemplate ||
      !pixmap.loadFromData(reinterpret_cast<const uchar*>(png->bytes.data()),
                           static_cast<uint>(png->bytes.size()), "PNG")) {
    return qt::statusIcon(qt::IconStyle::templateMask, error);
  }
  pixmap.setDevicePixelRatio(2.0);
  if (error) qt::drawErrorBadge(pixmap, qt::IconStyle::templateMask);
  QIcon icon(pixmap);
  icon.setIsMask(true);
  return icon;
}
app::VersionInfo versionInfo() {
  return {platform::macos::mainBundleInfoString("CFBundleShortVersionString"),
          platform::macos::mainBundleInfoString("CFBundleVersion")};
}
void becomeAccessory() { platform::macos::setAccessoryActivationPolicy(); }
bool runsTranslocated() {
  const std::optional<std::string> bundle = platform::macos::mainBundlePath();
  return bundle && platform::macos::isTranslocatedBundlePath(*bundle);
}
// An alert opens in front of the window the user works in, although the
// helper is not the active application: one the user caused activates the
// helper and takes the keyboard; one the helper raised by itself (shown
// without activating, and so without the keys) is only ordered to the front.
void bringAlertsToFront(qt::QtAlertPresenter& alerts) {
  alerts.setAboutToShow([](QMessageBox& box) {
    const bool causedByUser = !box.testAttribute(Qt::WA_ShowWithoutActivating);
    if (causedByUser) platform::macos::activateApplication();
    // Once the box is on screen, inside its own event loop.
    QTimer::singleShot(0, &box, [&box, causedByUser] {
      platform::macos::bringWindowToFront(reinterpret_cast<void*>(box.winId()), causedByUser);
    });
  });
}
// Beside the unified log, a capped file that "Show Log…" opens in Console.
fs::path helperLogFile(const fs::path& home) { return home / "Library/Logs/Quillory Helper/helper.log"; }
std::unique_ptr<platform::Log> makeSystemLog(const fs::path& home) {
  return std::make_unique<posix::TeeLog>(std::make_unique<platform::macos::MacSystemLog>(),
                                         std::make_unique<posix::CappedFileLog>(helperLogFile(home)));
}
bool standardOutputIsJournal() { return false; }  // no systemd
// A failed start is said on standard error only: the notification centre
// needs the running application.
void notifyStartFailure(int, char**, const std::string&) {}
std::string timeLocale() {
  const auto user = platform::macos::userTimeLocale();
  return presentation::withHourCycle(user.identifier, user.uses24Hour);
}
std::optional<std::string> settingsFolderProblem(const fs::path&) { return std::nullopt; }  // user defaults
bool handOverToRunningHelper(int, char**) { return false; }  // the system keeps one instance of a bundle
void followSessionBus(PlatformWorkspace&, platform::Log&, qt::QtStatusItem&) {}
void surviveTheLossOfTheSessionBus() {}  // no D-Bus
#else
std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

constexpr bool kWarnWhenICloudDriveOff = false;
using PlatformDefaults = posix::JsonDefaults;
using PlatformWorkspace = qt::DBusWorkspace;
using PlatformLoginItems = qt::XdgLoginItemService;
using PlatformAutomation = platform::NoAutomationPermissionNeeded;
using PlatformNotifier = qt::DesktopNotifier;

std::unique_ptr<PlatformDefaults> makeDefaults(const fs::path& home, platform::Log& log,
                                               platform::Clock& clock) {
  return std::make_unique<PlatformDefaults>(posix::defaultDefaultsFile(home), log, clock);
}
std::unique_ptr<PlatformLoginItems> makeLoginItems(const fs::path& home) {
  std::error_code error;
  fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (error) executable = fs::absolute(QCoreApplication::applicationFilePath().toStdString());
  return std::make_unique<PlatformLoginItems>(
      qt::autostartFolder(home, environmentValue("XDG_CONFIG_HOME")), executable,
      qt::systemAutostartFolders(environmentValue("XDG_CONFIG_DIRS")));
}
QIcon makeStatusIcon(bool error) { return qt::statusIcon(qt::kPlatformIconStyle, error); }
app::VersionInfo versionInfo() {
  auto known = [](const char* text) { return *text ? std::optional<std::string>(text) : std::nullopt; };
  return {known(QUILLORY_SHORT_VERSION), known(QUILLORY_BUILD_NUMBER)};
}
void becomeAccessory() {}  // a tray application has no window and no dock entry to hide
bool runsTranslocated() { return false; }  // a macOS protection
void bringAlertsToFront(qt::QtAlertPresenter&) {}  // the window manager places them
std::string timeLocale() { return presentation::posixTimeLocale(environmentValue); }
fs::path helperLogFile(const fs::path& home) { return posix::logFile(environmentValue, home); }
std::unique_ptr<platform::Log> makeSystemLog(const fs::path& home) {
  return posix::makeSystemLog(environmentValue, home);
}
// Under a systemd service: the lines on standard output carry their priority.
bool standardOutputIsJournal() { return posix::descriptorIsJournalStream(environmentValue, STDOUT_FILENO); }
// Started from the launcher or at login, the user sees no standard error:
// a start that fails says why in a notification too (waited for, briefly, as
// the process ends right after).
void notifyStartFailure(int argc, char** argv, const std::string& reason) {
  QCoreApplication application(argc, argv);
  qt::notifyDesktop(QStringLiteral("Quillory Helper could not start"), QString::fromStdString(reason))
      .waitForFinished();
}
// After the session bus came back, the tray icon registers again; the
// workspace logs the loss and the return.
void followSessionBus(PlatformWorkspace& workspace, platform::Log& log, qt::QtStatusItem& item) {
  workspace.setLog(&log);
  QObject::connect(&workspace, &qt::DBusWorkspace::reconnected, &item, &qt::QtStatusItem::registerAgain);
}
// The settings file's folder, created when missing; what went wrong otherwise
// (XDG_CONFIG_HOME naming a file, a file where the folder belongs, ...).
std::optional<std::string> settingsFolderProblem(const fs::path& home) {
  const fs::path folder = posix::defaultDefaultsFile(home).parent_path();
  if (const std::error_code error = platform::files::createFolders(folder)) {
    return folder.string() + ": " + error.message();
  }
  return std::nullopt;
}
// The session bus may go away at any moment, even while Qt's D-Bus thread
// subscribes to a signal for the tray icon (as QSystemTrayIcon does when it is
// shown or asked whether there is a tray). Qt then hands libdbus a call that
// was never sent ("pending != NULL"), a check that libdbus makes fatal by
// default and that would end the helper instead of letting the workspace wait
// for the bus to come back. Here such a check failure is only printed, and
// the call counts as failed. An explicit DBUS_FATAL_WARNINGS is left as it is.
// Called before any thread starts, as it changes the environment.
void surviveTheLossOfTheSessionBus() { ::setenv("DBUS_FATAL_WARNINGS", "0", 0); }
// A second launch asks the running helper, over the session bus, to show
// itself. Should it not answer, the user is still told, by a notification.
bool handOverToRunningHelper(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (qt::askRunningHelperToShow(std::chrono::seconds(5))) return true;
  qt::notifyDesktop(QString::fromUtf8(qt::DesktopPresence::kAlreadyRunning),
                    QStringLiteral("It did not answer; its icon may be hidden. See \"man quillory-helper\"."))
      .waitForFinished();
  return false;
}
#endif

// --help and --version answer before anything else is done; anything else
// on the line but the launcher options is refused. Returns the exit status,
// or the options to run with.
std::variant<int, app::LaunchOptions> answerCommandLine(int argc, char** argv) {
  const auto parsed = app::parseLaunchOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto* refusal = std::get_if<app::LaunchRefusal>(&parsed)) {
    std::cerr << kProgram << ": " << refusal->message << "\nTry '" << kProgram << " --help'.\n";
    return 64;
  }
  const app::LaunchOptions& options = std::get<app::LaunchOptions>(parsed);
  switch (options.action) {
    case app::LaunchAction::help:
      std::cout << app::launchUsageText(QUILLORY_SIMULATOR_PATH);
      return 0;
    case app::LaunchAction::version:
      std::cout << presentation::versionText(kProgram, QUILLORY_SHORT_VERSION, QUILLORY_BUILD_NUMBER,
                                             QUILLORY_COPYRIGHT);
      return 0;
    case app::LaunchAction::run:
      break;
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const std::variant<int, app::LaunchOptions> answered = answerCommandLine(argc, argv);
  if (const int* status = std::get_if<int>(&answered)) return *status;
  const app::LaunchOptions& options = std::get<app::LaunchOptions>(answered);
  // A launcher named on the command line that cannot be started is said at
  // once: the status line would only tell that there is none.
  if (options.osascript) {
    if (const std::optional<std::string> problem = bridge::launcherProblem(*options.osascript)) {
      std::cerr << kProgram << ": cannot start the script launcher: " << *options.osascript << ' ' << *problem
                << '\n';
      return 1;
    }
  }
  surviveTheLossOfTheSessionBus();
  // A closed standard output must not end the process in the middle of a write.
  ::signal(SIGPIPE, SIG_IGN);
  // Children are reaped by their owners only: an ignored SIGCHLD (inherited
  // from whoever started this process) would let the system reap them.
  ::signal(SIGCHLD, SIG_DFL);
  // Before any thread starts, so that only the watcher takes these signals.
  exitcleanup::blockTerminationSignals();
  exitcleanup::watchTerminationSignals(quitOnSignal);

  const fs::path home = platform::files::homeFolder();

  // One helper per user: a second one changes nothing, not even the settings
  // file, and leaves.
  posix::SingleInstanceLock lock(posix::defaultLockFile(home), posix::kMenuBarHelperProgram);
  waitForCommandLineRun(lock);
  switch (lock.outcome()) {
    case posix::SingleInstanceLock::Outcome::acquired:
      break;
    case posix::SingleInstanceLock::Outcome::heldElsewhere: {
      if (lock.holderProgram() == posix::kMenuBarHelperProgram && handOverToRunningHelper(argc, argv))
        return 0;
      std::string message = lock.holderProgram() == posix::kCommandLineProgram
                                ? std::string(posix::kCommandLineProgram) + " is still running"
                                : std::string("Quillory Helper is already running");
      if (const auto pid = lock.holderPid()) message += " (process " + std::to_string(*pid) + ")";
      message += "; this one exits. Lock file: " + lock.file().string();
      std::cerr << kProgram << ": " << message << '\n';
      // A helper that did not answer the hand-over has been told by a
      // notification already.
      if (lock.holderProgram() != posix::kMenuBarHelperProgram) notifyStartFailure(argc, argv, message);
      return 1;
    }
    case posix::SingleInstanceLock::Outcome::unavailable: {
      const std::string message = "cannot run without the single-instance lock: " + lock.error();
      std::cerr << kProgram << ": " << message << '\n';
      notifyStartFailure(argc, argv, message);
      return 1;
    }
  }
  if (const std::optional<std::string> problem = settingsFolderProblem(home)) {
    const std::string message = "cannot run without a settings folder: " + *problem;
    std::cerr << kProgram << ": " << message << '\n';
    notifyStartFailure(argc, argv, message);
    return 1;
  }

  QApplication application(argc, argv);
  applicationReady.store(true, std::memory_order_release);
  QApplication::setApplicationName(QStringLiteral("Quillory Helper"));
  QApplication::setDesktopFileName(QStringLiteral("quillory-helper"));
  // The helper has no window: closing an alert must not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  // Everything the background queues use is made before the dispatcher, so
  // that it outlives the dispatcher's workers.
  posix::SystemClock clock;
  const std::unique_ptr<platform::Log> systemLog = makeSystemLog(home);
  posix::StdoutLog log(STDOUT_FILENO, systemLog.get(), standardOutputIsJournal());
  const std::unique_ptr<PlatformDefaults> defaults = makeDefaults(home, log, clock);
  PlatformWorkspace workspace;
  const std::unique_ptr<PlatformLoginItems> loginItems = makeLoginItems(home);
  qt::QtDispatcher dispatcher;
  qt::QtAlertPresenter alerts(dispatcher);
  runningAlerts.store(&alerts);
  bringAlertsToFront(alerts);
  // The script launcher (macOS: always /usr/bin/osascript; the options are
  // Linux's only) and whether Kettle Ledger is taken as running.
  bridge::OsascriptRunner scripts(dispatcher, log, clock,
                                  options.osascript.value_or(std::string(bridge::kOsascriptPath)));
  platform::StaticWorkspace hostAssumed({engine::ExportManager::klBundleID});
  platform::Workspace& hostWorkspace =
      options.assumeHostRunning ? static_cast<platform::Workspace&>(hostAssumed) : workspace;
  PlatformAutomation automation;
  qt::QtStatusItem* statusItem = nullptr;  // owned by the delegate, for the life of the process
  // A click on a notification opens the menu where the tray allows it.
  PlatformNotifier notifier([&statusItem] {
    if (statusItem) (void)statusItem->openMenu();
  });
  qt::QtDesktopServices desktop;

  const std::shared_ptr<engine::ExportManager> manager =
      engine::ExportManager::create(engine::Environment{*defaults, dispatcher, clock, log, hostWorkspace, alerts,
                                                        scripts, home, &automation, kWarnWhenICloudDriveOff});
  runningManager.store(manager.get());  // never destroyed: the process ends with _Exit

  app::Shell shell{
      .makeStatusItem =
          [&statusItem, &alerts, &workspace, &log] {
            auto item = std::make_unique<qt::QtStatusItem>(makeStatusIcon(false), makeStatusIcon(true));
            statusItem = item.get();
            followSessionBus(workspace, log, *item);
            // While an alert is open the icon opens no menu over it.
            alerts.setOpenChanged([item = QPointer<qt::QtStatusItem>(item.get())](bool open) {
              if (item) item->setAlertOpen(open);
            });
            return item;
          },
      .dispatcher = dispatcher,
      .alerts = alerts,
      .loginItems = *loginItems,
      .log = log,
      .clock = clock,
      .dateText = {timeLocale(), ""},
      .version = versionInfo(),
      .becomeAccessory = becomeAccessory,
      .terminate = [] { QCoreApplication::quit(); },
      .runsTranslocated = runsTranslocated(),
      .notifier = &notifier,
      .desktop = &desktop,
      .logFile = helperLogFile(home),
  };
  const std::shared_ptr<app::AppDelegate> delegate = app::AppDelegate::create(std::move(shell), manager);
#if !defined(__APPLE__)
  qt::DesktopPresence presence(log, [&statusItem] { return statusItem; });
  QTimer::singleShot(0, &application, [&delegate, &presence] {
    delegate->applicationDidFinishLaunching();
    presence.start();
  });
#else
  QTimer::singleShot(0, &application, [&delegate] { delegate->applicationDidFinishLaunching(); });
#endif

  application.exec();
  // A sync stopped from here on was stopped by quitting, and says so.
  manager->prepareToQuit();
  // A switch-on or switch-off chosen just before quitting is stored at once,
  // and its deletion still runs to its end (within the limit).
  (void)manager->storeQueuedAnswers();
  (void)manager->finishLibraryChanges(std::chrono::seconds(10));

  // Quitting does not wait for a sync or a check that is still running: every
  // setting was saved when it changed and every file is replaced atomically,
  // so the process ends here, without unwinding the objects that the
  // background work may still be using. A running script's process group is
  // stopped and the temporary file of a write in progress removed; a pair
  // whose renames have begun is finished first, with its records.
  exitcleanup::finishWholeSteps(exitcleanup::kWholeStepBound);
  exitcleanup::stopChildGroups(kStopGrace);
  exitcleanup::removeTemporaryFiles();
  const int signal = quitSignal.load();
  // After a signal no stdio stream is touched: another thread may hold one.
  if (signal == 0) std::fflush(nullptr);
  std::_Exit(signal == 0 ? 0 : 128 + signal);
}
