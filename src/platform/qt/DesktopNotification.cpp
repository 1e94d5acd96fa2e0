#include "platform/qt/DesktopNotification.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace quillory::platform::qt {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QDBusPendingCall notify(const QString& summary, const QString& body, const QStringList& actions,
                        QDBusConnection& bus) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quillory-helper"));
  // Application name, no notification replaced, icon, summary, body,
  // actions, hints, the server's default display time.
  call << QStringLiteral("Quillory Helper") << 0u << QStringLiteral("quillory-helper") << summary << body
       << actions << hints << -1;
  return bus.asyncCall(call);
}

}  // namespace

QDBusPendingCall notifyDesktop(const QString& summary, const QString& body, QDBusConnection bus) {
  return notify(summary, body, {}, bus);
}

DesktopNotifier::DesktopNotifier(std::function<void()> clicked, QDBusConnection bus)
    : clicked_(std::move(clicked)), bus_(std::move(bus)) {
  bus_.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
               SLOT(actionInvoked(uint, QString)));
}

void DesktopNotifier::notify(const std::string& title, const std::string& body) {
  // "default" is the action of a click on the notification itself; the
  // service shows no button for it.
  const QDBusPendingCall call =
      qt::notify(QString::fromStdString(title), QString::fromStdString(body),
                 {QStringLiteral("default"), QStringLiteral("Open the menu")}, bus_);
  auto* watcher = new QDBusPendingCallWatcher(call, this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answered) {
    const QDBusPendingReply<uint> reply = *answered;
    if (reply.isValid()) sent_.insert(reply.value());
    answered->deleteLater();
  });
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
  if (action == QLatin1String("default") && sent_.contains(id) && clicked_) clicked_();
}

}  // namespace quillory::platform::qt
