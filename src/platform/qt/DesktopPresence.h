#pragma once
// What makes the running helper findable on a Linux desktop: it owns its
// bus name and answers a second launch (InstanceHandOver.h) by showing
// itself, and it watches for a tray (TrayWatch.h), saying so when there is
// none and putting its icon there when one appears.
//
// Showing itself: the menu opens at the tray icon where the tray lets a
// program open it (trays that embed the icon); elsewhere (trays that draw the
// menu themselves, or no tray) a notification "Quillory Helper is already
// running" appears.
//
// Linux only. Threading: main thread.

#include <functional>
#include <memory>

#include "platform/Log.h"
#include "platform/qt/InstanceHandOver.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/TrayWatch.h"

namespace quillory::platform::qt {

class DesktopPresence {
 public:
  static constexpr const char* kAlreadyRunning = "Quillory Helper is already running";

  // `statusItem` returns the helper's status item, or null while there is none.
  DesktopPresence(Log& log, std::function<QtStatusItem*()> statusItem);

  // Takes the bus name and starts watching for a tray; call once the status
  // item exists.
  void start();
  // Shows the helper: its menu, or the notification.
  void showItself();

 private:
  Log& log_;
  const std::function<QtStatusItem*()> statusItem_;
  std::unique_ptr<HandOverService> handOver_;
  std::unique_ptr<TrayWatch> trayWatch_;
};

}  // namespace quillory::platform::qt
