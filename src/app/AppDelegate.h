#pragma once
// The application delegate: the status item with its menu, the menu commands,
// and the connection between the user interface and the sync engine.
//
// Lifecycle: `create` makes the delegate around the manager that the
// composition root made and owns; the platform calls
// `applicationDidFinishLaunching` once the event loop runs, which builds the
// status item and its menu, installs the status hook and starts the manager's
// monitoring. From then on the menu follows the manager's
// state through `refreshMenu`, which changes the items of the menu built at
// launch in place and refills the Libraries submenu.
//
// Ownership: the delegate owns the status item, which owns the menu, which
// owns its items; the delegate finds the items again through weak references.
// The manager's status hook and the menu's actions hold the delegate weakly,
// so a notification that arrives after the delegate is gone does nothing.
//
// Threading: main thread only; the commands, `refreshMenu` and launching
// assert it. The manager calls the status hook on the main thread, and the
// hook refreshes the menu at once.
//
// Nothing here knows the toolkit: the status item, menus, alerts, login items,
// queues and the clock come in through the platform interfaces.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/VersionLine.h"
#include "platform/Defaults.h"
#include "platform/StatusItem.h"
#include "presentation/FailureNotices.h"
#include "presentation/RelativeDateText.h"

namespace quillory::platform {
class AlertPresenter;
class Clock;
class DesktopServices;
class Dispatcher;
class LoginItemService;
class Log;
class Notifier;
}  // namespace quillory::platform

namespace quillory::engine {
class ExportManager;
struct ExportState;
}  // namespace quillory::engine

namespace quillory::app {

// What the delegate needs from the platform, owned by the composition root.
struct Shell {
  platform::StatusItemFactory makeStatusItem;
  platform::Dispatcher& dispatcher;
  platform::AlertPresenter& alerts;
  platform::LoginItemService& loginItems;
  platform::Log& log;
  platform::Clock& clock;
  presentation::DateTextSettings dateText;
  VersionInfo version;
  // Makes the application an accessory: no Dock icon, no menu bar or window of
  // its own, alerts still allowed. May be empty where there is nothing to do.
  std::function<void()> becomeAccessory;
  // Ends the application ("Quit Quillory Helper").
  std::function<void()> terminate;
  // The bundle runs from the read-only copy macOS makes of an application
  // started where it was downloaded (App Translocation): the status line asks
  // the user to move it (kMoveToApplicationsTitle) while no sync or error is
  // shown, and "Launch at Login" registers nothing (it would register the
  // copy, which is gone at the next login).
  bool runsTranslocated = false;
  // Where a failed automatic sync is told (none: nowhere).
  platform::Notifier* notifier = nullptr;
  // Opens the published files and the log (none: the items do nothing).
  platform::DesktopServices* desktop = nullptr;
  // The helper's own log file, which "Show Log…" opens (none: no such item).
  std::optional<std::filesystem::path> logFile;
};

// The menu's fixed texts.
inline constexpr const char* kNotRunningTitle = "Kettle Ledger not running";
inline constexpr const char* kSyncNowTitle = "Sync Now";
inline constexpr const char* kLibrariesTitle = "Libraries";
inline constexpr const char* kShowPublishedFilesTitle = "Show Published Files";
inline constexpr const char* kShowLogTitle = "Show Log\u2026";
inline constexpr const char* kAutoSyncTitle = "Auto-sync";
inline constexpr const char* kLaunchAtLoginTitle = "Launch at Login";
inline constexpr const char* kQuitTitle = "Quit Quillory Helper";
inline constexpr const char* kMoveToApplicationsTitle = "Move Quillory Helper to Applications";

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
 public:
  static std::shared_ptr<AppDelegate> create(Shell shell,
                                             std::shared_ptr<engine::ExportManager> exportManager);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Selectors.
  void applicationDidFinishLaunching();
  void syncNow();
  void toggleAutoSync();
  void toggleLaunchAtLogin();
  void toggleLibrarySync(platform::MenuItem& item);
  void showPublishedFiles();
  void showLog();

  // The status menu.
  void setUpStatusItem();
  std::shared_ptr<platform::Menu> buildMenu();
  void refreshMenu();
  std::string relativeDateText(platform::Date date) const;

  platform::StatusItem* statusItem() const { return statusItem_.get(); }
  const std::shared_ptr<engine::ExportManager>& exportManager() const { return export_; }

 private:
  struct Private {};

 public:
  AppDelegate(Private, Shell shell, std::shared_ptr<engine::ExportManager> exportManager);

 private:
  // A menu action that runs `body` while the delegate exists and no alert is
  // open. Trays that deliver clicks over D-Bus bypass the toolkit's modal
  // blocking; without this, a second switch-off or Quit could run inside an
  // open alert (and quitting would answer an open first-sync question).
  platform::MenuItem::Action menuAction(std::function<void(AppDelegate&, platform::MenuItem&)> body);
  platform::MenuItem::Action command(void (AppDelegate::*command)());
  void rebuildLibrariesSubmenu(platform::Menu& submenu);
  bool loginItemEnabled() const;
  void openOnDesktop(const std::filesystem::path& path);
  void refreshPublishedFilesItem();
  void notifyFailure(const engine::ExportState& state);

  Shell shell_;
  std::unique_ptr<platform::StatusItem> statusItem_;
  std::shared_ptr<engine::ExportManager> export_;
  std::weak_ptr<platform::MenuItem> libraryItem_;
  std::weak_ptr<platform::MenuItem> syncStatusItem_;
  std::weak_ptr<platform::MenuItem> syncNowItem_;
  std::weak_ptr<platform::MenuItem> autoSyncItem_;
  std::weak_ptr<platform::MenuItem> loginItem_;
  std::weak_ptr<platform::MenuItem> publishedFilesItem_;
  presentation::FailureNotices failureNotices_;
};

}  // namespace quillory::app
