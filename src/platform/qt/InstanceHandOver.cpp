#include "platform/qt/InstanceHandOver.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>

namespace quillory::platform::qt {

HandOverService::HandOverService(std::function<void()> showRequested, QDBusConnection bus)
    : showRequested_(std::move(showRequested)), bus_(std::move(bus)) {
  if (!bus_.isConnected()) return;
  // The object first, so that no call reaches the name before it can be answered.
  if (!bus_.registerObject(QString::fromLatin1(kHelperObjectPath), this, QDBusConnection::ExportScriptableSlots)) {
    return;
  }
  ownsName_ = bus_.interface()->registerService(QString::fromLatin1(kHelperBusName),
                                                 QDBusConnectionInterface::DontQueueService,
                                                 QDBusConnectionInterface::DontAllowReplacement) ==
              QDBusConnectionInterface::ServiceRegistered;
}

HandOverService::~HandOverService() {
  if (ownsName_) bus_.unregisterService(QString::fromLatin1(kHelperBusName));
  bus_.unregisterObject(QString::fromLatin1(kHelperObjectPath));
}

void HandOverService::Activate(const QVariantMap&) {
  if (showRequested_) showRequested_();
}

bool askRunningHelperToShow(std::chrono::milliseconds patience, QDBusConnection bus) {
  if (!bus.isConnected()) return false;
  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kHelperBusName), QString::fromLatin1(kHelperObjectPath),
                                     QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
  call << QVariantMap();
  const QDeadlineTimer deadline(patience.count());
  for (;;) {
    const int wait = static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1));
    const QDBusMessage reply = bus.call(call, QDBus::Block, wait);
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
    // Only a name nobody owns yet is worth waiting for; a helper that owns it
    // and does not answer in time will not answer later.
    const QString error = reply.errorName();
    if ((error != QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") &&
         error != QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")) ||
        deadline.hasExpired()) {
      return false;
    }
    QThread::msleep(100);
  }
}

}  // namespace quillory::platform::qt
