#pragma once
// Menus and a status item in memory, for the menu stall benchmark. Items keep
// their title, state, key equivalent and represented object; `choose` does what
// a click does (calls the action of an enabled item, keeping the item alive
// meanwhile). Main thread only, like the real ones.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/StatusItem.h"

namespace quillory::testing {

class FakeMenu;

class FakeMenuItem final : public platform::MenuItem, public std::enable_shared_from_this<FakeMenuItem> {
 public:
  FakeMenuItem(std::string title, std::string keyEquivalent, Action action, bool separator)
      : title_(std::move(title)),
        keyEquivalent_(std::move(keyEquivalent)),
        action_(std::move(action)),
        separator_(separator) {}

  bool isSeparator() const override { return separator_; }
  std::string title() const override { return title_; }
  void setTitle(const std::string& title) override { title_ = title; }
  std::string toolTip() const override { return toolTip_; }
  void setToolTip(const std::string& toolTip) override { toolTip_ = toolTip; }
  bool isEnabled() const override { return enabled_; }
  void setEnabled(bool enabled) override { enabled_ = enabled; }
  bool isChecked() const override { return checked_; }
  void setChecked(bool checked) override { checked_ = checked; }
  std::string keyEquivalent() const override { return keyEquivalent_; }
  std::optional<std::string> representedObject() const override { return object_; }
  void setRepresentedObject(std::optional<std::string> object) override { object_ = std::move(object); }
  std::shared_ptr<platform::Menu> submenu() const override;
  std::shared_ptr<platform::Menu> makeSubmenu() override;

  // A click: runs the action when the item is enabled and has one.
  void choose();
  FakeMenu* fakeSubmenu() const { return submenu_.get(); }

 private:
  std::string title_;
  std::string toolTip_;
  const std::string keyEquivalent_;
  Action action_;
  const bool separator_;
  bool enabled_ = true;
  bool checked_ = false;
  std::optional<std::string> object_;
  std::shared_ptr<FakeMenu> submenu_;
};

class FakeMenu final : public platform::Menu {
 public:
  std::shared_ptr<platform::MenuItem> addItem(const std::string& title, const std::string& keyEquivalent,
                                              platform::MenuItem::Action action) override;
  std::shared_ptr<platform::MenuItem> addSeparator() override;
  std::shared_ptr<platform::MenuItem> itemWithTitle(const std::string& title) const override;
  std::vector<std::shared_ptr<platform::MenuItem>> items() const override;
  void removeAllItems() override { items_.clear(); }
  std::shared_ptr<platform::MenuItem> highlightedItem() const override { return highlighted_.lock(); }
  void highlight(const std::shared_ptr<platform::MenuItem>& item) override { highlighted_ = item; }

  std::size_t size() const { return items_.size(); }
  FakeMenuItem& at(std::size_t index) const { return *items_.at(index); }
  // The item with the title; throws (failing the test) when there is none.
  FakeMenuItem& item(const std::string& title) const;

 private:
  std::vector<std::shared_ptr<FakeMenuItem>> items_;
  std::weak_ptr<platform::MenuItem> highlighted_;
};

class FakeStatusItem final : public platform::StatusItem {
 public:
  bool hasButton() const override { return true; }
  void setIconShown(bool shown) override { iconShown_ = shown; }
  void setErrorShown(bool shown) override { errorShown_ = shown; }
  void setIndicatorAnimating(bool animating) override { animating_ = animating; }
  void setToolTip(const std::string& text) override { toolTip_ = text; }
  std::shared_ptr<platform::Menu> createMenu() override { return std::make_shared<FakeMenu>(); }
  void setMenu(std::shared_ptr<platform::Menu> menu) override { menu_ = std::move(menu); }
  std::shared_ptr<platform::Menu> menu() const override { return menu_; }

  bool iconShown() const { return iconShown_; }
  bool errorShown() const { return errorShown_; }
  bool indicatorAnimating() const { return animating_; }
  const std::string& toolTip() const { return toolTip_; }
  FakeMenu* fakeMenu() const { return dynamic_cast<FakeMenu*>(menu_.get()); }

 private:
  bool iconShown_ = false;
  bool errorShown_ = false;
  bool animating_ = false;
  std::string toolTip_;
  std::shared_ptr<platform::Menu> menu_;
};

}  // namespace quillory::testing
