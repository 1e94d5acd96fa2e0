#pragma once
// The status item on Qt: a `QSystemTrayIcon` with the status icon, the tool tip
// "Quillory Helper" followed by the status text
// the owner sets, and the attached menu as its context menu. The activity indicator takes the icon's place: a
// timer steps through the indicator's frames while it animates.
//
// On Linux a click on the icon opens the menu as well as the context-menu
// click, as a menu-bar item does. On macOS Qt attaches the menu to the native
// status item, and the system opens it on a click by itself; the item leaves
// the click to it, so the menu never opens twice. After the session bus came
// back, `registerAgain` puts the icon in the tray anew. The item always has a
// button: Qt shows the icon as soon as a tray host is there, also when one
// starts after the helper.
//
// While an alert is open (`setAlertOpen`), the icon opens no menu: trays that
// talk to the helper over D-Bus get past the alert's modality, and a menu over
// the alert would take its keyboard while its commands wait. The menu is
// taken off the icon for that time, and a click brings the alert to the front.
//
// Threading: main thread only.

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>
#include <vector>

#include "platform/StatusItem.h"
#include "platform/qt/QtMenu.h"
#include "platform/qt/StatusIcon.h"

namespace quillory::platform::qt {

class QtStatusItem final : public QObject, public StatusItem {
  Q_OBJECT

 public:
  static constexpr int kIndicatorFrameMilliseconds = 100;
  static constexpr const char* kDescription = "Quillory";
  // The first line of the tool tip, above the status text.
  static constexpr const char* kToolTipTitle = "Quillory Helper";
#if defined(__APPLE__)
  static constexpr bool kPlatformOpensMenuOnClick = true;
#else
  static constexpr bool kPlatformOpensMenuOnClick = false;
#endif

  // `icon` is the status icon, `errorIcon` its variant while the last sync
  // failed; by default the ones shipped with the helper. The indicator is
  // drawn in `indicatorStyle`. With `systemOpensMenu`, a plain click is left
  // to the system.
  explicit QtStatusItem(QIcon icon = statusIcon(), QIcon errorIcon = statusIcon(kPlatformIconStyle, true),
                        IconStyle indicatorStyle = kPlatformIconStyle,
                        bool systemOpensMenu = kPlatformOpensMenuOnClick);
  ~QtStatusItem() override;

  bool hasButton() const override { return true; }
  void setIconShown(bool shown) override;
  void setErrorShown(bool shown) override;
  void setIndicatorAnimating(bool animating) override;
  void setToolTip(const std::string& text) override;
  std::shared_ptr<Menu> createMenu() override;
  void setMenu(std::shared_ptr<Menu> menu) override;
  std::shared_ptr<Menu> menu() const override { return menu_; }

  // Opens the menu at the icon, as a click does. False where the tray does
  // not tell where its icon is (trays that draw the menu themselves, over
  // D-Bus): there a program cannot open it.
  bool openMenu();

  // For tests and the composition root.
  QSystemTrayIcon& trayIcon() { return *tray_; }
  bool isIconShown() const { return iconShown_; }
  bool isErrorShown() const { return errorShown_; }
  bool isIndicatorAnimating() const { return frameTimer_.isActive(); }
  int indicatorFrame() const { return frame_; }
  QMenu* qmenu() const;
  // An alert opened (true) or the last one closed (false).
  void setAlertOpen(bool open);
  // Shows the icon anew, as at launch: after the session bus came back, a
  // tray that talks over it knows the old icon no more.
  void registerAgain();

 private:
  void showCurrentImage();
  // Has the menu's titles follow the D-Bus label rules once Qt exports it.
  void followMenuExport();
  void onActivated(QSystemTrayIcon::ActivationReason reason);

  const QIcon icon_;
  const QIcon errorIcon_;
  const IconStyle indicatorStyle_;
  const bool systemOpensMenu_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  QTimer frameTimer_;
  int frame_ = 0;
  bool iconShown_ = false;
  bool errorShown_ = false;
  bool alertOpen_ = false;
  std::shared_ptr<QtMenu> menu_;
  // Every image the item shows is made once. The tray keeps the copy of an
  // image scaled to its slot in Qt's process-wide pixmap cache, keyed by the
  // image's identity: an image made anew for each frame and each sync added
  // entries, a few kilobytes per sync, until the cache's limit.
  const std::vector<QIcon> frames_ = indicatorFrames(indicatorStyle_);
  const QIcon blank_ = blankIcon();
};

}  // namespace quillory::platform::qt
