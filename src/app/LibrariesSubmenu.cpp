// The Libraries submenu: one checkable item per known library, and switching a
// library's sync on or off (off only after the user confirms, because it
// removes the library from the devices).
#include "app/AppDelegate.h"
#include "engine/ExportManager.h"
#include "platform/AlertPresenter.h"

namespace quillory::app {

void AppDelegate::rebuildLibrariesSubmenu(platform::Menu& submenu) {
  submenu.removeAllItems();
  const std::vector<std::string> names = export_->knownLibraries();
  if (names.empty()) {
    submenu.addItem(kNoLibrariesTitle, "", nullptr)->setEnabled(false);
    return;
  }
  std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
  for (const std::string& name : names) {
    auto item = submenu.addItem(name, "", [weakSelf](platform::MenuItem& chosen) {
      if (auto self = weakSelf.lock()) self->toggleLibrarySync(chosen);
    });
    item->setRepresentedObject(name);
    item->setChecked(export_->isLibraryEnabled(name));
  }
}

void AppDelegate::toggleLibrarySync(platform::MenuItem& item) {
  const std::optional<std::string> name = item.representedObject();
  if (!name) return;

  const bool wasEnabled = export_->isLibraryEnabled(*name);
  if (wasEnabled) {
    platform::Alert alert;
    alert.message = "Remove \"" + *name + "\" from mobile devices?";
    alert.informativeText =
        "Disabling sync will delete this library and its data from Quillory on your iPhone and/or iPad.";
    alert.style = platform::AlertStyle::warning;
    alert.buttons = {"Remove", "Cancel"};
    if (shell_.alerts.run(alert) != 0) return;
  }

  export_->setLibraryEnabled(*name, !wasEnabled);
  export_->notifyStatusChanged();
  if (wasEnabled) export_->deleteLibraryFiles(*name);
  refreshMenu();
}

}  // namespace quillory::app
