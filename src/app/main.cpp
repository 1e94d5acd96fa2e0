// The process entry of quillory-helper: takes the single-instance lock, makes
// the application object and every platform piece, hands them to the sync
// engine and the application delegate, and runs the event loop. This is the
// only place where the implementations of the platform interfaces are chosen.

#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "app/AppDelegate.h"
#include "bridge/OsascriptRunner.h"
#include "engine/ExportManager.h"
#include "platform/Files.h"
#include "platform/posix/PlistDefaults.h"
#include "platform/posix/SingleInstanceLock.h"
#include "platform/posix/StdoutLog.h"
#include "platform/posix/SystemClock.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtDispatcher.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/StatusIcon.h"

#if defined(__APPLE__)
#include <QPixmap>

#include "platform/macos/MacApplication.h"
#include "platform/macos/MacDefaults.h"
#include "platform/macos/MacLoginItemService.h"
#include "platform/macos/MacSystemLog.h"
#include "platform/macos/MacWorkspace.h"
#else
#include "platform/posix/SystemLog.h"
#include "platform/qt/DBusWorkspace.h"
#include "platform/qt/XdgLoginItemService.h"
#endif

namespace {

using namespace quillory;
namespace fs = std::filesystem;
namespace posix = platform::posix;
namespace qt = platform::qt;

constexpr const char* kProgram = "quillory-helper";

#if defined(__APPLE__)
using PlatformDefaults = platform::macos::MacDefaults;
using PlatformWorkspace = platform::macos::MacWorkspace;
using PlatformLoginItems = platform::macos::MacLoginItemService;

std::unique_ptr<PlatformDefaults> makeDefaults(const fs::path&, platform::Log&, platform::Clock&) {
  return std::make_unique<PlatformDefaults>();
}
std::unique_ptr<PlatformLoginItems> makeLoginItems(const fs::path&) {
  return std::make_unique<PlatformLoginItems>();
}
// The system symbol drawn by AppKit; the bundled template icon when the
// symbol cannot be had or drawn.
QIcon makeStatusIcon() {
  const auto png = platform::macos::statusIconPng(16.0, 2.0);
  QPixmap pixmap;
  if (!png || !png->isTemplate ||
      !pixmap.loadFromData(reinterpret_cast<const uchar*>(png->bytes.data()),
                           static_cast<uint>(png->bytes.size()), "PNG")) {
    return qt::statusIcon();
  }
  pixmap.setDevicePixelRatio(2.0);
  QIcon icon(pixmap);
  icon.setIsMask(true);
  return icon;
}
app::VersionInfo versionInfo() {
  return {platform::macos::mainBundleInfoString("CFBundleShortVersionString"),
          platform::macos::mainBundleInfoString("CFBundleVersion")};
}
void becomeAccessory() { platform::macos::setAccessoryActivationPolicy(); }
std::unique_ptr<platform::Log> makeSystemLog(const fs::path&) {
  return std::make_unique<platform::macos::MacSystemLog>();
}
std::string timeLocale() {
  const auto user = platform::macos::userTimeLocale();
  return app::withHourCycle(user.identifier, user.uses24Hour);
}
#else
std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

using PlatformDefaults = posix::PlistDefaults;
using PlatformWorkspace = qt::DBusWorkspace;
using PlatformLoginItems = qt::XdgLoginItemService;

std::unique_ptr<PlatformDefaults> makeDefaults(const fs::path& home, platform::Log& log,
                                               platform::Clock& clock) {
  return std::make_unique<PlatformDefaults>(posix::defaultDefaultsFile(home), log, clock);
}
std::unique_ptr<PlatformLoginItems> makeLoginItems(const fs::path& home) {
  std::error_code error;
  fs::path executable = fs::read_symlink("/proc/self/exe", error);
  if (error) executable = fs::absolute(QCoreApplication::applicationFilePath().toStdString());
  return std::make_unique<PlatformLoginItems>(qt::autostartFolder(home, environmentValue("XDG_CONFIG_HOME")),
                                              executable);
}
QIcon makeStatusIcon() { return qt::statusIcon(); }
app::VersionInfo versionInfo() {
  auto known = [](const char* text) { return *text ? std::optional<std::string>(text) : std::nullopt; };
  return {known(QUILLORY_SHORT_VERSION), known(QUILLORY_BUILD_NUMBER)};
}
void becomeAccessory() {}  // a tray application has no window and no dock entry to hide
std::string timeLocale() { return app::posixTimeLocale(environmentValue); }
std::unique_ptr<platform::Log> makeSystemLog(const fs::path& home) {
  return posix::makeSystemLog(environmentValue, home);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  // A closed standard output must not end the process in the middle of a write.
  ::signal(SIGPIPE, SIG_IGN);

  const fs::path home = platform::files::homeFolder();

  // One helper per user: a second one changes nothing, not even the settings
  // file, and leaves at once.
  posix::SingleInstanceLock lock(posix::defaultLockFile(home));
  switch (lock.outcome()) {
    case posix::SingleInstanceLock::Outcome::acquired:
      break;
    case posix::SingleInstanceLock::Outcome::heldElsewhere:
      std::cerr << kProgram << ": Quillory Helper is already running";
      if (const auto pid = lock.holderPid()) std::cerr << " (process " << *pid << ")";
      std::cerr << "; this one exits. Lock file: " << lock.file().string() << '\n';
      return 1;
    case posix::SingleInstanceLock::Outcome::unavailable:
      std::cerr << kProgram << ": going on without the single-instance lock: " << lock.error() << '\n';
      break;
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillory Helper"));
  QApplication::setDesktopFileName(QStringLiteral("quillory-helper"));
  // The helper has no window: closing an alert must not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  // Everything the background queues use is made before the dispatcher, so
  // that it outlives the dispatcher's workers.
  posix::SystemClock clock;
  const std::unique_ptr<platform::Log> systemLog = makeSystemLog(home);
  posix::StdoutLog log(STDOUT_FILENO, systemLog.get());
  const std::unique_ptr<PlatformDefaults> defaults = makeDefaults(home, log, clock);
  PlatformWorkspace workspace;
  const std::unique_ptr<PlatformLoginItems> loginItems = makeLoginItems(home);
  qt::QtDispatcher dispatcher;
  qt::QtAlertPresenter alerts(dispatcher);
  bridge::OsascriptRunner scripts(dispatcher, clock, log, "/usr/bin/osascript");

  const std::shared_ptr<engine::ExportManager> manager = engine::ExportManager::shared([&] {
    return engine::Environment{*defaults, dispatcher, clock, log, workspace, alerts, scripts, home};
  });

  app::Shell shell{
      .makeStatusItem = [] { return std::make_unique<qt::QtStatusItem>(makeStatusIcon()); },
      .dispatcher = dispatcher,
      .alerts = alerts,
      .loginItems = *loginItems,
      .log = log,
      .clock = clock,
      .dateText = {timeLocale(), ""},
      .version = versionInfo(),
      .becomeAccessory = becomeAccessory,
      .terminate = [] { QCoreApplication::quit(); },
  };
  const std::shared_ptr<app::AppDelegate> delegate = app::AppDelegate::create(std::move(shell), manager);
  QTimer::singleShot(0, &application, [&delegate] { delegate->applicationDidFinishLaunching(); });

  application.exec();

  // Quitting does not wait for a sync or a check that is still running: every
  // setting was saved when it changed and every file is replaced atomically,
  // so the process ends here, without unwinding the objects that the
  // background work may still be using.
  std::fflush(nullptr);
  std::_Exit(0);
}
