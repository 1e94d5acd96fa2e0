#pragma once
// The application's item in the menu bar (the tray on Linux desktops).
//
// Contract: a status item may have a button, the visible part that shows the
// status icon or, in its place, an animated activity indicator; without one
// (no place to show it) the item shows nothing and has no menu.
// - `setIconShown` shows the status icon (a monochrome template image of a "q"
//   in a filled circle, described as "Quillory") or removes it.
// - `setErrorShown` marks the status icon as failed (a variant of the icon
//   with an error badge) or takes the mark off; it applies whenever the icon
//   is shown.
// - `setIndicatorAnimating` starts or stops the activity indicator, which is
//   invisible while stopped.
// - `setToolTip` sets the text shown below the icon's description when the
//   pointer rests on the item (plain text, possibly several lines).
// - `createMenu` makes a new, empty menu for this item; `setMenu` attaches it
//   (the item owns it) and `menu` returns the attached one, or null.
//
// Threading: main thread only.

#include <functional>
#include <memory>
#include <string>

#include "platform/Menu.h"

namespace quillory::platform {

class StatusItem {
 public:
  virtual ~StatusItem() = default;

  virtual bool hasButton() const = 0;
  virtual void setIconShown(bool shown) = 0;
  virtual void setErrorShown(bool shown) = 0;
  virtual void setIndicatorAnimating(bool animating) = 0;
  virtual void setToolTip(const std::string& text) = 0;

  virtual std::shared_ptr<Menu> createMenu() = 0;
  virtual void setMenu(std::shared_ptr<Menu> menu) = 0;
  virtual std::shared_ptr<Menu> menu() const = 0;
};

// Creates the status item in the system's status bar (square length).
using StatusItemFactory = std::function<std::unique_ptr<StatusItem>()>;

}  // namespace quillory::platform
