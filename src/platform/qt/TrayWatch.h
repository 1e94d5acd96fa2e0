#pragma once
// Whether the desktop has a tray to show the status item in. Without one
// (GNOME without an AppIndicator extension, a bare window manager) the
// helper would run unseen: the watch says so once, in the log and in a
// desktop notification, then looks again every few seconds; when a tray
// appears it logs that and calls `trayAppeared`, which shows the icon there.
//
// The looking is a cheap query of the platform (a selection owner on X11, a
// bus property for D-Bus trays), made only while no tray is there.
//
// Threading: main thread.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

#include "platform/Log.h"

namespace quillory::platform::qt {

class TrayWatch final : public QObject {
  Q_OBJECT

 public:
  static constexpr std::chrono::seconds kLookAgain{5};
  static constexpr const char* kNoTrayLine =
      "[Helper] \u26A0 No system tray: the Quillory Helper icon and menu appear when a tray does; syncing "
      "goes on meanwhile";
  static constexpr const char* kTrayLine = "[Helper] System tray found: showing the icon";

  // `trayAvailable` asks the platform (QSystemTrayIcon::isSystemTrayAvailable
  // by default); `notify` shows a desktop notification.
  TrayWatch(Log& log, std::function<void()> trayAppeared,
            std::function<void(const QString& summary, const QString& body)> notify,
            std::function<bool()> trayAvailable = {});

  // Looks once now, and again every kLookAgain while there is no tray.
  void start();
  bool trayPresent() const { return present_; }

 private:
  void look();

  Log& log_;
  const std::function<void()> trayAppeared_;
  const std::function<void(const QString&, const QString&)> notify_;
  const std::function<bool()> trayAvailable_;
  QTimer timer_;
  bool present_ = true;
};

}  // namespace quillory::platform::qt
