#include "platform/qt/DesktopNotification.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace quillory::platform::qt {

QDBusPendingCall notifyDesktop(const QString& summary, const QString& body, QDBusConnection bus) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quillory-helper"));
  // Application name, no notification replaced, icon, summary, body, no
  // actions, hints, the server's default display time.
  call << QStringLiteral("Quillory Helper") << 0u << QStringLiteral("quillory-helper") << summary << body
       << QStringList() << hints << -1;
  return bus.asyncCall(call);
}

void DesktopNotifier::notify(const std::string& title, const std::string& body) {
  (void)notifyDesktop(QString::fromStdString(title), QString::fromStdString(body));
}

}  // namespace quillory::platform::qt
