#include "platform/qt/QtStatusItem.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>

#include "platform/qt/StatusIcon.h"

namespace quillory::platform::qt {

QtStatusItem::QtStatusItem(QIcon icon, QIcon errorIcon, IconStyle indicatorStyle, bool systemOpensMenu)
    : icon_(std::move(icon)),
      errorIcon_(std::move(errorIcon)),
      indicatorStyle_(indicatorStyle),
      systemOpensMenu_(systemOpensMenu) {
  frameTimer_.setInterval(kIndicatorFrameMilliseconds);
  connect(&frameTimer_, &QTimer::timeout, this, [this] {
    frame_ = (frame_ + 1) % kIndicatorFrameCount;
    showCurrentImage();
  });
  registerAgain();
  tray_->setToolTip(QString::fromLatin1(kToolTipTitle));
}

void QtStatusItem::registerAgain() {
  // A new tray icon registers with the tray as at launch (on the session bus
  // as it is now, for trays that use it); it takes over what the old one
  // showed.
  auto fresh = std::make_unique<QSystemTrayIcon>();
  connect(fresh.get(), &QSystemTrayIcon::activated, this, &QtStatusItem::onActivated);
  fresh->setIcon(tray_ ? tray_->icon() : icon_);
  if (tray_) {
    fresh->setToolTip(tray_->toolTip());
    tray_->setContextMenu(nullptr);
    tray_->hide();
  }
  tray_ = std::move(fresh);
  tray_->setContextMenu(menu_ && !alertOpen_ ? menu_->qmenu() : nullptr);
  tray_->show();
  followMenuExport();
}

QtStatusItem::~QtStatusItem() {
  frameTimer_.stop();
  tray_->setContextMenu(nullptr);
  tray_->hide();
}

void QtStatusItem::setToolTip(const std::string& text) {
  tray_->setToolTip(plainToolTip(text.empty() ? kToolTipTitle : std::string(kToolTipTitle) + "\n" + text));
}

void QtStatusItem::setAlertOpen(bool open) {
  alertOpen_ = open;
  tray_->setContextMenu(open || !menu_ ? nullptr : menu_->qmenu());
}

void QtStatusItem::setIconShown(bool shown) {
  iconShown_ = shown;
  showCurrentImage();
}

void QtStatusItem::setErrorShown(bool shown) {
  if (shown == errorShown_) return;
  errorShown_ = shown;
  showCurrentImage();
}

void QtStatusItem::setIndicatorAnimating(bool animating) {
  if (animating == frameTimer_.isActive()) return;
  if (animating) {
    frame_ = 0;
    frameTimer_.start();
  } else {
    frameTimer_.stop();
  }
  showCurrentImage();
}

void QtStatusItem::showCurrentImage() {
  // The indicator, while it runs, stands where the icon was; with neither, the
  // tray keeps an empty (transparent) image so that its place stays.
  if (frameTimer_.isActive()) {
    tray_->setIcon(frames_[static_cast<std::size_t>(frame_)]);
  } else if (iconShown_) {
    tray_->setIcon(errorShown_ ? errorIcon_ : icon_);
  } else {
    tray_->setIcon(blank_);
  }
}

std::shared_ptr<Menu> QtStatusItem::createMenu() { return std::make_shared<QtMenu>(); }

void QtStatusItem::setMenu(std::shared_ptr<Menu> menu) {
  menu_ = std::dynamic_pointer_cast<QtMenu>(menu);
  tray_->setContextMenu(menu_ && !alertOpen_ ? menu_->qmenu() : nullptr);
  followMenuExport();
}

void QtStatusItem::followMenuExport() {
#if !defined(__APPLE__)
  // A tray that talks over D-Bus (StatusNotifierItem) has Qt export the menu,
  // which gives it a platform menu; a tray that embeds the icon shows the
  // QMenu itself.
  if (menu_ && menu_->qmenu()->platformMenu()) menu_->setDBusLabels(true);
#endif
}

QMenu* QtStatusItem::qmenu() const { return menu_ ? menu_->qmenu() : nullptr; }

void QtStatusItem::onActivated(QSystemTrayIcon::ActivationReason reason) {
  // While an alert is open, the icon brings it to the front instead of a menu
  // whose commands would wait for the alert.
  if (alertOpen_) {
    if (QWidget* alert = QApplication::activeModalWidget()) {
      alert->raise();
      alert->activateWindow();
    }
    return;
  }
  // The context-menu click opens the menu by itself; a plain click does too.
  if (reason != QSystemTrayIcon::Trigger || !menu_ || systemOpensMenu_) return;
  QMenu* menu = menu_->qmenu();
  if (menu->isVisible()) return;
  const QRect where = tray_->geometry();
  menu->popup(where.isValid() ? where.bottomLeft() : QCursor::pos());
}

bool QtStatusItem::openMenu() {
  if (alertOpen_) {  // the alert comes to the front instead, as on a click
    onActivated(QSystemTrayIcon::Trigger);
    return true;
  }
  const QRect where = tray_->geometry();
  if (!menu_ || !where.isValid()) return false;
  if (!menu_->qmenu()->isVisible()) menu_->qmenu()->popup(where.bottomLeft());
  return true;
}

}  // namespace quillory::platform::qt
