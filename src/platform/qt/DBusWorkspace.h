#pragma once
// The workspace on Linux, over the session D-Bus.
//
// An application is running while its bundle identifier (a well-known name
// such as "test.kettleledger.desktop2") has an owner on the bus. Linux has no
// desktop-wide "became active" event, so an application counts as activated
// when its name gains an owner, and as terminated when it loses it; a name
// that passes straight to another owner counts as a new activation.
//
// The names are listed once when the workspace is made and then followed
// through the bus's NameOwnerChanged signal on the main thread, which also
// calls the observers. `runningBundleIdentifiers` answers from that list under
// a mutex, so a background thread never makes a bus call. Unique connection
// names (":1.42") are not applications and are left out. Without a bus the
// list stays empty and no observer is called.
//
// Threading: as `Workspace`; construct it on the main thread.

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/Workspace.h"

namespace quillory::platform::qt {

class DBusWorkspace final : public QObject, public Workspace {
  Q_OBJECT

 public:
  // Makes a new connection, under the given connection name, to the bus the
  // workspace follows.
  using Reconnect = std::function<QDBusConnection(const QString& connectionName)>;
  static QDBusConnection sessionBusAgain(const QString& connectionName);

  explicit DBusWorkspace(QDBusConnection connection = QDBusConnection::sessionBus(),
                         Reconnect reconnect = sessionBusAgain);
  ~DBusWorkspace() override;

  std::vector<std::optional<std::string>> runningBundleIdentifiers() const override;
  void observeActivation(Observer observer) override;
  void observeTermination(Observer observer) override;

  bool isConnected() const { return connected_; }
  // Where the loss of the bus and its return are logged (none: nowhere).
  void setLog(Log* log) { log_ = log; }

 Q_SIGNALS:
  // A lost bus is back and the names are listed again.
  void reconnected();

 private Q_SLOTS:
  void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
  void busLost();

 private:
  // Subscribes to the bus's signals and lists the owned names.
  std::vector<std::string> follow();
  void tryToReconnect();
  void notify(const std::vector<Observer>& observers, const std::vector<std::string>& ids);

  QDBusConnection connection_;
  const Reconnect reconnect_;
  Log* log_ = nullptr;  // main thread
  bool connected_ = false;
  bool lost_ = false;
  int reconnections_ = 0;
  QTimer retry_;
  mutable std::mutex mutex_;
  std::vector<std::string> running_;  // guarded by mutex_
  std::vector<Observer> activation_;  // main thread
  std::vector<Observer> termination_;
};

}  // namespace quillory::platform::qt
