#include "platform/qt/DBusWorkspace.h"

#include <QDBusConnectionInterface>
#include <algorithm>

namespace quillory::platform::qt {
namespace {

bool isUniqueName(const QString& name) { return name.startsWith(QLatin1Char(':')); }

}  // namespace

DBusWorkspace::DBusWorkspace(QDBusConnection connection) : connection_(std::move(connection)) {
  if (!connection_.isConnected()) return;
  // Subscribe first, then list, so that no change between the two is missed;
  // a name reported by both is kept once.
  connected_ =
      connection_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                          QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                          SLOT(nameOwnerChanged(QString, QString, QString)));
  if (QDBusConnectionInterface* bus = connection_.interface()) {
    const QDBusReply<QStringList> names = bus->registeredServiceNames();
    if (names.isValid()) {
      std::lock_guard lock(mutex_);
      for (const QString& name : names.value()) {
        if (isUniqueName(name) || name == QLatin1String("org.freedesktop.DBus")) continue;
        const std::string id = name.toStdString();
        if (std::find(running_.begin(), running_.end(), id) == running_.end()) running_.push_back(id);
      }
    }
  }
}

DBusWorkspace::~DBusWorkspace() {
  if (connected_) {
    connection_.disconnect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                           QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                           SLOT(nameOwnerChanged(QString, QString, QString)));
  }
}

std::vector<std::optional<std::string>> DBusWorkspace::runningBundleIdentifiers() const {
  std::lock_guard lock(mutex_);
  return {running_.begin(), running_.end()};
}

void DBusWorkspace::observeActivation(Observer observer) { activation_.push_back(std::move(observer)); }

void DBusWorkspace::observeTermination(Observer observer) { termination_.push_back(std::move(observer)); }

void DBusWorkspace::nameOwnerChanged(const QString& name, const QString& /*oldOwner*/,
                                     const QString& newOwner) {
  if (isUniqueName(name) || name.isEmpty()) return;
  const std::string id = name.toStdString();
  const bool running = !newOwner.isEmpty();
  {
    std::lock_guard lock(mutex_);
    auto at = std::find(running_.begin(), running_.end(), id);
    if (running && at == running_.end()) running_.push_back(id);
    if (!running && at != running_.end()) running_.erase(at);
  }
  // Copies, so that an observer may register another one.
  const std::vector<Observer> observers = running ? activation_ : termination_;
  for (const Observer& observer : observers) observer(id);
}

}  // namespace quillory::platform::qt
