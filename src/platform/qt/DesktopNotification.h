#pragma once
// A desktop notification through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus), which GNOME, KDE, Xfce
// and most notification daemons provide. The helper uses it where the user
// would otherwise see nothing: no tray to show its icon in, a second launch,
// a failed automatic sync (`DesktopNotifier`, the Notifier of Linux).
//
// The call never blocks the caller: it is sent and its answer is not awaited
// (without a service, the bus answers with an error that nobody needs).
// Linux only. Threading: main thread.

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>

#include "platform/Notifier.h"

namespace quillory::platform::qt {

// Sends the notification with the helper's name and icon; the returned call
// may be waited for by a process that is about to end.
QDBusPendingCall notifyDesktop(const QString& summary, const QString& body,
                               QDBusConnection bus = QDBusConnection::sessionBus());

// The helper's notifications on the session bus; never awaited. A click on
// one (the service's "default" action) calls `clicked`, which opens the menu
// where the tray lets a program do so; the identifiers the service gave are
// kept as its answers arrive, so a click on another program's notification
// is not taken for one of ours.
class DesktopNotifier final : public QObject, public Notifier {
  Q_OBJECT

 public:
  explicit DesktopNotifier(std::function<void()> clicked,
                           QDBusConnection bus = QDBusConnection::sessionBus());
  void notify(const std::string& title, const std::string& body) override;

 private slots:
  void actionInvoked(uint id, const QString& action);

 private:
  const std::function<void()> clicked_;
  QDBusConnection bus_;
  QSet<uint> sent_;
};

}  // namespace quillory::platform::qt
