#pragma once
// One item of a menu: a titled command, a line of text, or a separator.
//
// Contract: an item has a title, a tool tip (empty for none), an enabled
// state, a check mark, a key
// equivalent (a single lower-case character pressed with the platform's
// command modifier, or empty), an optional represented object (a string the
// owner of the menu attaches, such as a library name), an optional submenu and
// an optional action. Choosing an enabled item with an action calls the action
// with the item. The check mark is only ever what `setChecked` last said: a
// platform that toggles it on a click by itself puts it back.
//
// Ownership: the menu owns its items (`std::shared_ptr`); whoever wants to find
// an item again keeps a `std::weak_ptr`, which expires when the menu drops it.
// An item owns its submenu.
//
// Threading: main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillory::platform {

class Menu;

class MenuItem {
 public:
  using Action = std::function<void(MenuItem& item)>;
  virtual ~MenuItem() = default;

  virtual bool isSeparator() const = 0;

  virtual std::string title() const = 0;
  virtual void setTitle(const std::string& title) = 0;
  virtual std::string toolTip() const = 0;
  virtual void setToolTip(const std::string& toolTip) = 0;
  virtual bool isEnabled() const = 0;
  virtual void setEnabled(bool enabled) = 0;
  virtual bool isChecked() const = 0;
  virtual void setChecked(bool checked) = 0;
  virtual std::string keyEquivalent() const = 0;

  virtual std::optional<std::string> representedObject() const = 0;
  virtual void setRepresentedObject(std::optional<std::string> object) = 0;

  // The item's submenu, or null. `makeSubmenu` gives the item a new, empty
  // submenu (replacing any earlier one) and returns it.
  virtual std::shared_ptr<Menu> submenu() const = 0;
  virtual std::shared_ptr<Menu> makeSubmenu() = 0;
};

}  // namespace quillory::platform
