#include "FakeMenu.h"

#include <stdexcept>

namespace quillory::testing {

std::shared_ptr<platform::Menu> FakeMenuItem::submenu() const { return submenu_; }

std::shared_ptr<platform::Menu> FakeMenuItem::makeSubmenu() {
  submenu_ = std::make_shared<FakeMenu>();
  return submenu_;
}

void FakeMenuItem::choose() {
  if (separator_ || !enabled_ || !action_) return;
  std::shared_ptr<FakeMenuItem> keep = shared_from_this();
  Action action = action_;
  action(*this);
}

std::shared_ptr<platform::MenuItem> FakeMenu::addItem(const std::string& title,
                                                      const std::string& keyEquivalent,
                                                      platform::MenuItem::Action action) {
  items_.push_back(std::make_shared<FakeMenuItem>(title, keyEquivalent, std::move(action), false));
  return items_.back();
}

std::shared_ptr<platform::MenuItem> FakeMenu::addSeparator() {
  items_.push_back(std::make_shared<FakeMenuItem>("", "", nullptr, true));
  return items_.back();
}

std::shared_ptr<platform::MenuItem> FakeMenu::itemWithTitle(const std::string& title) const {
  for (const auto& item : items_) {
    if (!item->isSeparator() && item->title() == title) return item;
  }
  return nullptr;
}

std::vector<std::shared_ptr<platform::MenuItem>> FakeMenu::items() const {
  return {items_.begin(), items_.end()};
}

FakeMenuItem& FakeMenu::item(const std::string& title) const {
  if (auto found = itemWithTitle(title)) return static_cast<FakeMenuItem&>(*found);
  throw std::out_of_range("no menu item titled \"" + title + "\"");
}

}  // namespace quillory::testing
