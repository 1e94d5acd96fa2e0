#include "app/AppDelegate.h"

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
  if (shell_.becomeAccessory) shell_.becomeAccessory();
  setUpStatusItem();

  // The hook runs on the manager's terms (any thread); it only queues the
  // refresh, always asynchronously, and the refresh is skipped once the
  // delegate is gone.
  std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
  platform::Dispatcher* dispatcher = &shell_.dispatcher;
  export_->setOnStatusChanged([weakSelf, dispatcher] {
    dispatcher->async([weakSelf] {
      if (auto self = weakSelf.lock()) self->refreshMenu();
    });
  });

  export_->startMonitoring();
}

void AppDelegate::syncNow() { export_->sync("manual"); }

void AppDelegate::toggleAutoSync() {
  export_->toggleAutoSync();
  refreshMenu();
}

void AppDelegate::toggleLaunchAtLogin() {
  const bool enabled = loginItemEnabled();
  const std::optional<std::string> error =
      enabled ? shell_.loginItems.unregisterItem() : shell_.loginItems.registerItem();
  if (error) shell_.log.line("[Helper] Launch at login error: " + *error);
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
