#pragma once
// A private session bus for one test: a dbus-daemon started for it, stopped
// with it. (Started with posix_spawn: QProcess runs its child in this
// process's memory, which confuses ThreadSanitizer.)

#include <signal.h>

#include <QStandardPaths>
#include <QString>
#include <string>

#include "platform/ChildProcess.h"

namespace quillory::platform::qt::test {

class PrivateBus {
 public:
  // Empty address when dbus-daemon is missing or did not start.
  PrivateBus() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) return;
    daemonFound_ = true;
    // The daemon goes to the background once it listens and prints its
    // address and process id.
    auto starter = platform::ChildProcess::spawn(
        daemon.toStdString(), {"--session", "--fork", "--print-address=1", "--print-pid=1"});
    if (!starter) return;
    std::string output;
    starter->readOutput(output);
    starter->reap();
    const auto newline = output.find('\n');
    if (newline == std::string::npos) return;
    address_ = QString::fromStdString(output.substr(0, newline));
    pid_ = std::stoi(output.substr(newline + 1));
  }
  ~PrivateBus() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool daemonFound() const { return daemonFound_; }
  const QString& address() const { return address_; }

 private:
  bool daemonFound_ = false;
  QString address_;
  int pid_ = 0;
};

}  // namespace quillory::platform::qt::test
