#include "platform/qt/DesktopPresence.h"

#include "platform/qt/DesktopNotification.h"

namespace quillory::platform::qt {

DesktopPresence::DesktopPresence(Log& log, std::function<QtStatusItem*()> statusItem)
    : log_(log), statusItem_(std::move(statusItem)) {}

void DesktopPresence::start() {
  trayWatch_ = std::make_unique<TrayWatch>(
      log_,
      [this] {
        // Shown again, the icon is placed in the tray that has just appeared.
        if (QtStatusItem* item = statusItem_()) {
          item->trayIcon().hide();
          item->trayIcon().show();
        }
      },
      [](const QString& summary, const QString& body) { notifyDesktop(summary, body); });
  trayWatch_->start();
  handOver_ = std::make_unique<HandOverService>([this] { showItself(); });
  if (!handOver_->ownsName()) {
    log_.line(std::string("[Helper] Could not take the session bus name ") + kHelperBusName +
              ": a second launch cannot hand over to this one");
  }
}

void DesktopPresence::showItself() {
  QtStatusItem* item = statusItem_();
  const bool tray = trayWatch_ && trayWatch_->trayPresent();
  if (tray && item && item->openMenu()) return;
  notifyDesktop(QString::fromUtf8(kAlreadyRunning),
                tray ? QStringLiteral("Its menu is behind the Quillory icon in the panel's tray.")
                     : QStringLiteral("This desktop shows no tray icons, so its menu cannot be shown; it keeps "
                                      "publishing Kettle Ledger's library in the background."));
}

}  // namespace quillory::platform::qt
