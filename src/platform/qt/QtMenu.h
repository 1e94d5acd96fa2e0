#pragma once
// Menus on Qt: a `QMenu` whose items are `QAction`s that stay the same for the
// life of the item, changed in place (title, enabled state, check mark).
//
// A key equivalent "s" becomes the shortcut Ctrl+S (Command-S on macOS, where
// Qt maps Ctrl to the command key). An item becomes checkable the first time
// it is given a check mark; Qt's own toggling on a click is undone before the
// action runs, so the mark stays what the program last set. Removed actions
// are deleted later by the event loop, never inside the signal that may be
// running them. Titles and tool tips are shown as given: an "&" is not taken
// as the mark of a keyboard mnemonic, nor a "<b>" as markup. Tool tips show
// when the pointer rests on an item. While a menu is open, Ctrl+<key> chooses
// the item with that key equivalent (a tray's menu has no window in which
// Qt's own shortcuts would work).
//
// Threading: main thread only.

#include <QAction>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Menu.h"

class QMenu;

namespace quillory::platform::qt {

class QtMenu;

// A tool tip that shows `text` as written, never as markup.
QString plainToolTip(const std::string& text);

class QtMenuItem final : public MenuItem, public std::enable_shared_from_this<QtMenuItem> {
 public:
  // Creates the action in `menu`; `separator` makes a separator.
  QtMenuItem(QMenu& menu, const std::string& title, const std::string& keyEquivalent, Action action,
             bool separator);
  ~QtMenuItem() override;
  QtMenuItem(const QtMenuItem&) = delete;
  QtMenuItem& operator=(const QtMenuItem&) = delete;

  bool isSeparator() const override { return separator_; }
  std::string title() const override;
  void setTitle(const std::string& title) override;
  std::string toolTip() const override { return toolTip_; }
  void setToolTip(const std::string& toolTip) override;
  bool isEnabled() const override;
  void setEnabled(bool enabled) override;
  bool isChecked() const override { return checked_; }
  void setChecked(bool checked) override;
  std::string keyEquivalent() const override { return keyEquivalent_; }
  std::optional<std::string> representedObject() const override { return representedObject_; }
  void setRepresentedObject(std::optional<std::string> object) override {
    representedObject_ = std::move(object);
  }
  std::shared_ptr<Menu> submenu() const override;
  std::shared_ptr<Menu> makeSubmenu() override;

  QAction* action() const { return action_; }
  // Runs what choosing the item does (the action's `triggered` signal calls it).
  void choose();

 private:
  QPointer<QAction> action_;
  std::string title_;
  std::string toolTip_;
  const bool separator_;
  const std::string keyEquivalent_;
  Action handler_;
  bool checked_ = false;
  std::optional<std::string> representedObject_;
  std::shared_ptr<QtMenu> submenu_;
};

class QtMenu final : public Menu {
 public:
  QtMenu();
  ~QtMenu() override;
  QtMenu(const QtMenu&) = delete;
  QtMenu& operator=(const QtMenu&) = delete;

  std::shared_ptr<MenuItem> addItem(const std::string& title, const std::string& keyEquivalent,
                                    MenuItem::Action action) override;
  std::shared_ptr<MenuItem> addSeparator() override;
  std::shared_ptr<MenuItem> itemWithTitle(const std::string& title) const override;
  std::vector<std::shared_ptr<MenuItem>> items() const override;
  void removeAllItems() override;
  std::shared_ptr<MenuItem> highlightedItem() const override;
  void highlight(const std::shared_ptr<MenuItem>& item) override;

  QMenu* qmenu() const { return menu_.get(); }
  // Whether the titles follow the label rules of menus exported over D-Bus
  // (set by the status item, for its menu and its submenus) rather than
  // those of menus Qt draws; see menuText in QtMenu.cpp.
  void setDBusLabels(bool dbus);
  // The item whose action is `action`, or null.
  std::shared_ptr<QtMenuItem> itemFor(const QAction* action) const;

 private:
  struct DeleteLater {
    void operator()(QMenu* menu) const;
  };
  std::unique_ptr<QMenu, DeleteLater> menu_;
  std::vector<std::shared_ptr<QtMenuItem>> items_;
};

}  // namespace quillory::platform::qt
