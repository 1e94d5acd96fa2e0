// The Libraries submenu: one checkable item per known library, and switching a
// library's sync on or off (off only after the user confirms, because it
// removes the library from the devices).
#include <cassert>

#include "app/AppDelegate.h"
#include "app/MenuTitle.h"
#include "engine/ExportManager.h"
#include "platform/AlertPresenter.h"
#include "platform/Dispatcher.h"
#include "presentation/LibraryLine.h"
#include "presentation/SwitchOffQuestion.h"

namespace quillory::app {

namespace {

// Whether the submenu lists exactly `names`, in this order (an empty list is
// the one "No libraries seen yet" line).
bool listsExactly(const platform::Menu& submenu, const std::vector<std::string>& names) {
  const auto items = submenu.items();
  if (names.empty()) return items.size() == 1 && !items.front()->representedObject();
  if (items.size() != names.size()) return false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (items[i]->representedObject() != names[i]) return false;
  }
  return true;
}

}  // namespace

// The submenu may be open while it is refreshed (the status refresh timer runs
// every minute): with the same libraries, only the check marks change in
// place; otherwise it is refilled and the highlight stays on the library it
// was on, so that the keyboard's Return still acts on what the user chose.
void AppDelegate::rebuildLibrariesSubmenu(platform::Menu& submenu) {
  const std::vector<std::string> names = export_->knownLibraries();
  if (listsExactly(submenu, names)) {
    for (const auto& item : submenu.items()) {
      if (const auto name = item->representedObject()) item->setChecked(export_->isLibraryEnabled(*name));
    }
    return;
  }
  const auto highlighted = submenu.highlightedItem();
  const std::optional<std::string> highlightedName =
      highlighted ? highlighted->representedObject() : std::nullopt;
  submenu.removeAllItems();
  if (names.empty()) {
    submenu.addItem(presentation::kNoLibrariesText, "", nullptr)->setEnabled(false);
    return;
  }
  for (const std::string& name : names) {
    // A long name is shortened in the title only; the item keeps it whole.
    auto item = submenu.addItem(
        elidedMenuTitle(name), "",
        menuAction([](AppDelegate& self, platform::MenuItem& chosen) { self.toggleLibrarySync(chosen); }));
    item->setToolTip(name);
    item->setRepresentedObject(name);
    item->setChecked(export_->isLibraryEnabled(name));
    if (name == highlightedName) submenu.highlight(item);
  }
}

void AppDelegate::toggleLibrarySync(platform::MenuItem& item) {
  assert(shell_.dispatcher.isMainThread());
  const std::optional<std::string> name = item.representedObject();
  if (!name) return;

  const bool wasEnabled = export_->isLibraryEnabled(*name);
  if (wasEnabled) {
    if (shell_.alerts.run(presentation::switchOffQuestion(*name)) != 0) return;
  }

  // The change runs on a background queue: switching off takes the publish
  // lock (which an export holds while it renames its files into place) and
  // deletes files in every container. The engine applies the menu's changes
  // in the order they were made and reports each, so the check mark shows
  // the new state at once and the menu refreshes again when it is done.
  // A confirmed "Remove" that cannot be stored leaves the library published:
  // the user, who just chose it, is told at once.
  engine::ExportManager::NotStoredHandler whenNotStored;
  if (wasEnabled) {
    whenNotStored = [weakSelf = weak_from_this(), name = *name](const std::string& reason) {
      if (auto self = weakSelf.lock())
        (void)self->shell_.alerts.run(presentation::switchOffNotStoredAlert(name, reason));
    };
  }
  export_->requestLibrarySync(*name, !wasEnabled, std::move(whenNotStored));
  refreshMenu();
}

}  // namespace quillory::app
