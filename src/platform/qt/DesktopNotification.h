#pragma once
// A desktop notification through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus), which GNOME, KDE, Xfce
// and most notification daemons provide. The helper uses it where the user
// would otherwise see nothing: no tray to show its icon in, a second launch.
//
// The call never blocks the caller: it is sent and its answer is not awaited
// (without a service, the bus answers with an error that nobody needs).
// Linux only. Threading: main thread.

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QString>

namespace quillory::platform::qt {

// Sends the notification with the helper's name and icon; the returned call
// may be waited for by a process that is about to end.
QDBusPendingCall notifyDesktop(const QString& summary, const QString& body,
                               QDBusConnection bus = QDBusConnection::sessionBus());

}  // namespace quillory::platform::qt
