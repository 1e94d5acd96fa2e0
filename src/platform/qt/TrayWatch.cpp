#include "platform/qt/TrayWatch.h"

#include <QSystemTrayIcon>

namespace quillory::platform::qt {

TrayWatch::TrayWatch(Log& log, std::function<void()> trayAppeared,
                     std::function<void(const QString&, const QString&)> notify, std::function<bool()> trayAvailable)
    : log_(log),
      trayAppeared_(std::move(trayAppeared)),
      notify_(std::move(notify)),
      trayAvailable_(trayAvailable ? std::move(trayAvailable) : [] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {
  timer_.setInterval(kLookAgain);
  connect(&timer_, &QTimer::timeout, this, &TrayWatch::look);
}

void TrayWatch::start() { look(); }

void TrayWatch::look() {
  const bool present = trayAvailable_();
  if (present == present_) return;
  present_ = present;
  if (present) {
    // A tray that is there stays watched by Qt itself, which puts the icon
    // back when the panel restarts: no more looking, no more wake-ups.
    timer_.stop();
    log_.line(kTrayLine);
    if (trayAppeared_) trayAppeared_();
    return;
  }
  timer_.start();
  log_.line(kNoTrayLine);
  if (notify_) {
    notify_(QStringLiteral("Quillory Helper has no tray icon"),
            QStringLiteral("This desktop shows no tray (status) icons, so the helper's menu cannot be shown. It "
                           "keeps publishing Kettle Ledger's library and shows its icon when a tray appears. On "
                           "GNOME, the AppIndicator extension adds a tray."));
  }
}

}  // namespace quillory::platform::qt
