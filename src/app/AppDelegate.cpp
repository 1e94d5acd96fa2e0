#include "app/AppDelegate.h"

#include <cassert>

#include "engine/ExportManager.h"
#include "platform/Dispatcher.h"
#include "platform/Log.h"
#include "platform/LoginItemService.h"

namespace quillory::app {

std::shared_ptr<AppDelegate> AppDelegate::create(Shell shell,
                                                 std::shared_ptr<engine::ExportManager> exportManager) {
  return std::make_shared<AppDelegate>(Private{}, std::move(shell), std::move(exportManager));
}

AppDelegate::AppDelegate(Private, Shell shell, std::shared_ptr<engine::ExportManager> exportManager)
    : shell_(std::move(shell)), export_(std::move(exportManager)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
  assert(shell_.dispatcher.isMainThread());
  if (shell_.becomeAccessory) shell_.becomeAccessory();
  setUpStatusItem();

  // The manager calls the hook on the main thread only, never inside the call
  // that reported the change: the hook refreshes at once, so a change reaches
  // the menu in one hop of the main queue. The refresh is skipped once the
  // delegate is gone.
  export_->setOnStatusChanged([weakSelf = weak_from_this()] {
    if (auto self = weakSelf.lock()) self->refreshMenu();
  });

  export_->startMonitoring();
}

void AppDelegate::syncNow() {
  assert(shell_.dispatcher.isMainThread());
  export_->sync("manual");
}

void AppDelegate::toggleAutoSync() {
  assert(shell_.dispatcher.isMainThread());
  export_->toggleAutoSync();
  refreshMenu();
}

void AppDelegate::toggleLaunchAtLogin() {
  assert(shell_.dispatcher.isMainThread());
  const bool enabled = loginItemEnabled();
  if (!enabled && shell_.runsTranslocated) {
    shell_.log.line(std::string("[Helper] Launch at login error: not from a temporary copy; ") +
                    kMoveToApplicationsTitle);
    refreshMenu();
    return;
  }
  const std::optional<std::string> error =
      enabled ? shell_.loginItems.unregisterItem() : shell_.loginItems.registerItem();
  if (error) shell_.log.line("[Helper] Launch at login error: " + *error);
  // Registered, but the user has still to allow it: the item stays unchecked
  // and the place to allow it opens.
  if (!enabled && shell_.loginItems.status() == platform::LoginItemStatus::requiresApproval) {
    shell_.log.line(
        "[Helper] Launch at login needs your approval in System Settings \u203A General \u203A Login Items");
    shell_.loginItems.openApprovalSettings();
  }
  refreshMenu();
}

bool AppDelegate::loginItemEnabled() const {
  return shell_.loginItems.status() == platform::LoginItemStatus::enabled;
}

platform::MenuItem::Action AppDelegate::menuAction(
    std::function<void(AppDelegate&, platform::MenuItem&)> body) {
  std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
  return [weakSelf, body = std::move(body)](platform::MenuItem& item) {
    auto self = weakSelf.lock();
    if (!self || self->shell_.dispatcher.modalDepth() > 0) return;
    body(*self, item);
  };
}

platform::MenuItem::Action AppDelegate::command(void (AppDelegate::*command)()) {
  return menuAction([command](AppDelegate& self, platform::MenuItem&) { (self.*command)(); });
}

}  // namespace quillory::app
