#include "platform/qt/DBusWorkspace.h"

#include <QDBusConnectionInterface>
#include <algorithm>

namespace quillory::platform::qt {
namespace {

bool isUniqueName(const QString& name) { return name.startsWith(QLatin1Char(':')); }

const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kLocalPath = QStringLiteral("/org/freedesktop/DBus/Local");
const QString kLocalInterface = QStringLiteral("org.freedesktop.DBus.Local");
constexpr int kRetryMilliseconds = 1000;

}  // namespace

QDBusConnection DBusWorkspace::sessionBusAgain(const QString& connectionName) {
  return QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
}

DBusWorkspace::DBusWorkspace(QDBusConnection connection, Reconnect reconnect)
    : connection_(std::move(connection)), reconnect_(std::move(reconnect)) {
  retry_.setInterval(kRetryMilliseconds);
  connect(&retry_, &QTimer::timeout, this, &DBusWorkspace::tryToReconnect);
  std::vector<std::string> names = follow();
  std::lock_guard lock(mutex_);
  running_ = std::move(names);
}

DBusWorkspace::~DBusWorkspace() {
  if (connected_) {
    connection_.disconnect(kBusService, kBusPath, kBusService, QStringLiteral("NameOwnerChanged"), this,
                           SLOT(nameOwnerChanged(QString, QString, QString)));
    connection_.disconnect(QString(), kLocalPath, kLocalInterface, QStringLiteral("Disconnected"), this,
                           SLOT(busLost()));
  }
  if (reconnections_ > 0) QDBusConnection::disconnectFromBus(connection_.name());
}

std::vector<std::string> DBusWorkspace::follow() {
  std::vector<std::string> names;
  if (!connection_.isConnected()) return names;
  // Subscribe first, then list, so that no change between the two is missed;
  // a name reported by both is kept once.
  connected_ = connection_.connect(kBusService, kBusPath, kBusService, QStringLiteral("NameOwnerChanged"),
                                   this, SLOT(nameOwnerChanged(QString, QString, QString)));
  connection_.connect(QString(), kLocalPath, kLocalInterface, QStringLiteral("Disconnected"), this,
                      SLOT(busLost()));
  if (QDBusConnectionInterface* bus = connection_.interface()) {
    const QDBusReply<QStringList> listed = bus->registeredServiceNames();
    if (listed.isValid()) {
      for (const QString& name : listed.value()) {
        if (isUniqueName(name) || name == kBusService) continue;
        const std::string id = name.toStdString();
        if (std::find(names.begin(), names.end(), id) == names.end()) names.push_back(id);
      }
    }
  }
  return names;
}

std::vector<std::optional<std::string>> DBusWorkspace::runningBundleIdentifiers() const {
  std::lock_guard lock(mutex_);
  return {running_.begin(), running_.end()};
}

void DBusWorkspace::observeActivation(Observer observer) { activation_.push_back(std::move(observer)); }

void DBusWorkspace::observeTermination(Observer observer) { termination_.push_back(std::move(observer)); }

void DBusWorkspace::notify(const std::vector<Observer>& observers, const std::vector<std::string>& ids) {
  // Copies, so that an observer may register another one.
  const std::vector<Observer> copies = observers;
  for (const std::string& id : ids) {
    for (const Observer& observer : copies) observer(id);
  }
}

void DBusWorkspace::nameOwnerChanged(const QString& name, const QString& /*oldOwner*/,
                                     const QString& newOwner) {
  if (isUniqueName(name) || name.isEmpty() || lost_) return;
  const std::string id = name.toStdString();
  const bool running = !newOwner.isEmpty();
  {
    std::lock_guard lock(mutex_);
    auto at = std::find(running_.begin(), running_.end(), id);
    if (running && at == running_.end()) running_.push_back(id);
    if (!running && at != running_.end()) running_.erase(at);
  }
  notify(running ? activation_ : termination_, {id});
}

void DBusWorkspace::busLost() {
  if (lost_) return;
  lost_ = true;
  connected_ = false;
  if (log_) log_->line("[Helper] \u26A0 Lost the session bus; reconnecting");
  std::vector<std::string> gone;
  {
    std::lock_guard lock(mutex_);
    gone.swap(running_);
  }
  notify(termination_, gone);
  retry_.start();
}

void DBusWorkspace::tryToReconnect() {
  const QString name = QStringLiteral("quillory-workspace-%1").arg(++reconnections_);
  QDBusConnection next = reconnect_(name);
  if (!next.isConnected()) {
    QDBusConnection::disconnectFromBus(name);
    return;
  }
  retry_.stop();
  lost_ = false;
  // The connection made for the previous time the bus came back is dropped.
  if (reconnections_ > 1) QDBusConnection::disconnectFromBus(connection_.name());
  connection_ = std::move(next);
  std::vector<std::string> names = follow();
  {
    std::lock_guard lock(mutex_);
    running_ = names;
  }
  if (log_) log_->line("[Helper] Session bus back; reading the running applications again");
  notify(activation_, names);
  Q_EMIT reconnected();
}

}  // namespace quillory::platform::qt
