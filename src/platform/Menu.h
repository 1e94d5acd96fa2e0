#pragma once
// A menu: an ordered list of items (see MenuItem.h).
//
// Contract: `addItem` appends an item with the title, key equivalent (empty
// for none) and action (empty for none), enabled, without check mark; items
// without an action are shown as text. `addSeparator` appends a separator.
// `itemWithTitle` finds the first item with exactly that title. `removeAllItems`
// drops every item (references held elsewhere as `weak_ptr` expire; an item
// whose action is running stays alive until the action returns).
// `highlightedItem` is the item the pointer or the keyboard highlights while
// the menu is open (null when none or closed); `highlight` moves the
// highlight to one of its items.
//
// Threading: main thread only.

#include <memory>
#include <string>
#include <vector>

#include "platform/MenuItem.h"

namespace quillory::platform {

class Menu {
 public:
  virtual ~Menu() = default;

  virtual std::shared_ptr<MenuItem> addItem(const std::string& title, const std::string& keyEquivalent,
                                            MenuItem::Action action) = 0;
  virtual std::shared_ptr<MenuItem> addSeparator() = 0;
  virtual std::shared_ptr<MenuItem> itemWithTitle(const std::string& title) const = 0;
  virtual std::vector<std::shared_ptr<MenuItem>> items() const = 0;
  virtual void removeAllItems() = 0;
  virtual std::shared_ptr<MenuItem> highlightedItem() const = 0;
  virtual void highlight(const std::shared_ptr<MenuItem>& item) = 0;
};

}  // namespace quillory::platform
