#pragma once
// A private session bus for one test: a dbus-daemon started for it, stopped
// with it. (Started with posix_spawn: QProcess runs its child in this
// process's memory, which confuses ThreadSanitizer.)

#include <signal.h>

#include <QStandardPaths>
#include <QString>
#include <cstdlib>
#include <string>

#include "platform/ChildProcess.h"
#include "support/TempHome.h"

namespace quillory::platform::qt::test {

class PrivateBus {
 public:
  // Empty address when dbus-daemon is missing or did not start.
  PrivateBus() {
    if (daemonFound()) start();
    if (pid_ <= 0) address_.clear();
  }
  ~PrivateBus() { stop(); }  // not copied: its folder is not

  bool daemonFound() const { return !daemon_.empty(); }
  const QString& address() const { return address_; }

  // The bus goes away, and comes back at the same address. The daemon goes
  // to the background once it listens and prints its process id.
  void stop() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    pid_ = 0;
  }
  void start() {
    auto starter = platform::ChildProcess::spawn(
        daemon_, {"--session", "--fork", "--print-pid=1", "--address=" + address_.toStdString()});
    if (!starter) return;
    std::string output;
    starter->readOutput(output);
    starter->reap();
    pid_ = std::atoi(output.c_str());
  }

 private:
  testing::TempHome folder_;
  std::string daemon_ = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).toStdString();
  QString address_ = QString::fromStdString("unix:path=" + (folder_ / "bus").string());
  int pid_ = 0;
};

}  // namespace quillory::platform::qt::test
