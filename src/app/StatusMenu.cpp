// The status item, the menu built at launch and its refresh.
#include <cassert>
#include <filesystem>
#include <system_error>

#include "app/AppDelegate.h"
#include "app/MenuTitle.h"
#include "engine/ExportManager.h"
#include "platform/Clock.h"
#include "platform/DesktopServices.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"
#include "platform/LoginItemService.h"
#include "platform/Notifier.h"
#include "presentation/LibraryLine.h"
#include "presentation/StatusLine.h"

namespace quillory::app {

void AppDelegate::setUpStatusItem() {
  statusItem_ = shell_.makeStatusItem ? shell_.makeStatusItem() : nullptr;
  if (!statusItem_ || !statusItem_->hasButton()) return;
  statusItem_->setIconShown(true);
  statusItem_->setIndicatorAnimating(false);
  statusItem_->setMenu(buildMenu());
}

std::shared_ptr<platform::Menu> AppDelegate::buildMenu() {
  std::shared_ptr<platform::Menu> menu = statusItem_->createMenu();

  auto library = menu->addItem(kNotRunningTitle, "", nullptr);
  library->setEnabled(false);
  libraryItem_ = library;

  auto status = menu->addItem(presentation::kNeverSyncedText, "", nullptr);
  status->setEnabled(false);
  syncStatusItem_ = status;

  menu->addSeparator();
  syncNowItem_ = menu->addItem(kSyncNowTitle, "s", command(&AppDelegate::syncNow));
  menu->addSeparator();

  menu->addItem(kLibrariesTitle, "", nullptr)->makeSubmenu();
  publishedFilesItem_ =
      menu->addItem(kShowPublishedFilesTitle, "", command(&AppDelegate::showPublishedFiles));
  refreshPublishedFilesItem();
  if (shell_.logFile) menu->addItem(kShowLogTitle, "", command(&AppDelegate::showLog));
  menu->addSeparator();

  auto autoSync = menu->addItem(kAutoSyncTitle, "", command(&AppDelegate::toggleAutoSync));
  autoSync->setChecked(export_->autoSyncEnabled());
  autoSyncItem_ = autoSync;

  auto login = menu->addItem(kLaunchAtLoginTitle, "", command(&AppDelegate::toggleLaunchAtLogin));
  login->setChecked(loginItemEnabled());
  loginItem_ = login;

  menu->addSeparator();
  menu->addItem(versionLine(shell_.version), "", nullptr)->setEnabled(false);

  menu->addItem(kQuitTitle, "q", menuAction([](AppDelegate& self, platform::MenuItem&) {
                  if (self.shell_.terminate) self.shell_.terminate();
                }));
  return menu;
}

void AppDelegate::refreshMenu() {
  assert(shell_.dispatcher.isMainThread());
  // One snapshot: the lines below never mix two states of the manager.
  const engine::ExportState state = export_->state();
  const bool syncing = state.isSyncing;

  // A switch-off that could not be stored stays in view until it is.
  const std::optional<std::string>& shownError = state.lastError ? state.lastError : state.switchOffWarning;

  // 1. The icon, marked while the status line shows an error, or the
  // indicator while a sync runs.
  if (statusItem_ && statusItem_->hasButton()) {
    statusItem_->setErrorShown(!syncing && shownError.has_value());
    if (syncing) {
      statusItem_->setIconShown(false);
      statusItem_->setIndicatorAnimating(true);
    } else {
      statusItem_->setIndicatorAnimating(false);
      statusItem_->setIconShown(true);
    }
  }

  // 2. The Libraries submenu.
  if (std::shared_ptr<platform::Menu> menu = statusItem_ ? statusItem_->menu() : nullptr) {
    if (auto libraries = menu->itemWithTitle(kLibrariesTitle)) {
      if (auto submenu = libraries->submenu()) rebuildLibrariesSubmenu(*submenu);
    }
  }

  // 3. The library line.
  const std::optional<std::string>& name = state.currentLibraryName;
  if (auto item = libraryItem_.lock()) {
    item->setTitle(presentation::libraryLine(name ? std::optional(elidedMenuTitle(*name)) : std::nullopt));
    item->setToolTip(name ? *name : "");
  }

  // 4. The status line and "Sync Now".
  const std::optional<platform::Date> lastSync =
      syncing || !name ? std::nullopt : export_->librarySyncDate(*name);
  presentation::StatusLine line =
      presentation::statusLineFor(syncing, shownError, state.launcherProblem, lastSync,
                                  [this](platform::Date date) { return relativeDateText(date); });
  if (shell_.runsTranslocated && !syncing && !shownError) line.title = kMoveToApplicationsTitle;
  if (auto item = syncStatusItem_.lock()) item->setTitle(line.title);
  // The icon's tool tip shows the status line, so an error is seen without
  // opening the menu.
  if (statusItem_ && statusItem_->hasButton()) statusItem_->setToolTip(line.title);
  if (auto item = syncNowItem_.lock()) item->setEnabled(line.syncNowEnabled);

  // 5. and 6. The check marks.
  if (auto item = autoSyncItem_.lock()) item->setChecked(state.autoSyncEnabled);
  if (auto item = loginItem_.lock()) item->setChecked(loginItemEnabled());

  refreshPublishedFilesItem();
  notifyFailure(state);
}

// Enabled while the folder exists; otherwise its tool tip says why not.
void AppDelegate::refreshPublishedFilesItem() {
  auto item = publishedFilesItem_.lock();
  if (!item) return;
  const std::filesystem::path folder = export_->publishedFolder();
  std::error_code error;
  const bool exists = std::filesystem::is_directory(folder, error);
  item->setEnabled(exists);
  item->setToolTip(exists ? folder.string()
                          : "The Quillory app's iCloud Drive folder does not exist: " + folder.string());
}

void AppDelegate::showPublishedFiles() {
  assert(shell_.dispatcher.isMainThread());
  openOnDesktop(export_->publishedFolder());
}

void AppDelegate::showLog() {
  assert(shell_.dispatcher.isMainThread());
  if (shell_.logFile) openOnDesktop(*shell_.logFile);
}

void AppDelegate::openOnDesktop(const std::filesystem::path& path) {
  if (shell_.desktop && !shell_.desktop->open(path)) {
    shell_.log.line("[Helper] \u2717 Could not open " + path.string());
  }
}

// One notification per kind of failure of the automatic runs (FailureNotices.h).
void AppDelegate::notifyFailure(const engine::ExportState& state) {
  const std::optional<presentation::Notice> notice =
      failureNotices_.runEnded({state.runsEnded, state.lastRunCausedByUser, state.lastRunFailure},
                               state.currentLibraryName, shell_.clock.monotonicNow());
  if (notice && shell_.notifier) shell_.notifier->notify(notice->title, notice->body);
}

std::string AppDelegate::relativeDateText(platform::Date date) const {
  return presentation::relativeDateText(date, shell_.clock.now(), shell_.dateText);
}

}  // namespace quillory::app
