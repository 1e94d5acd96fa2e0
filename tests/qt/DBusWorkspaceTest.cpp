// The workspace against a private bus daemon started for the test.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QStandardPaths>
#include <string>

#include "QtPump.h"
#include "platform/ChildProcess.h"
#include "platform/qt/DBusWorkspace.h"

namespace quillory::platform::qt::test {
namespace {

using ::testing::Contains;
using ::testing::Not;

class DBusWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    // The daemon goes to the background once it listens and prints its address
    // and process id. (Started with posix_spawn: QProcess runs its child in
    // this process's memory, which confuses ThreadSanitizer.)
    auto starter = platform::ChildProcess::spawn(
        daemon.toStdString(), {"--session", "--fork", "--print-address=1", "--print-pid=1"});
    ASSERT_TRUE(starter);
    std::string output;
    starter->readOutput(output);
    starter->reap();
    const auto newline = output.find('\n');
    ASSERT_NE(newline, std::string::npos) << output;
    address_ = QString::fromStdString(output.substr(0, newline));
    daemonPid_ = std::stoi(output.substr(newline + 1));
  }
  void TearDown() override {
    for (const QString& name : connections_) QDBusConnection::disconnectFromBus(name);
    if (daemonPid_ > 0) ::kill(daemonPid_, SIGTERM);
  }

  QDBusConnection connect(const QString& name) {
    connections_ << name;
    return QDBusConnection::connectToBus(address_, name);
  }

  QString address_;
  int daemonPid_ = 0;
  QStringList connections_;
};

TEST_F(DBusWorkspaceTest, OwnedNamesAreRunningApplications) {
  QDBusConnection host = connect(QStringLiteral("host"));
  ASSERT_TRUE(host.isConnected());
  ASSERT_TRUE(host.registerService(QStringLiteral("test.kettleledger.desktop2")));

  DBusWorkspace workspace(connect(QStringLiteral("helper")));
  ASSERT_TRUE(workspace.isConnected());
  std::vector<std::optional<std::string>> activated, terminated;
  workspace.observeActivation([&](const std::optional<std::string>& id) { activated.push_back(id); });
  workspace.observeTermination([&](const std::optional<std::string>& id) { terminated.push_back(id); });

  EXPECT_THAT(workspace.runningBundleIdentifiers(),
              Contains(std::optional<std::string>("test.kettleledger.desktop2")));
  // Connections are not applications.
  EXPECT_THAT(workspace.runningBundleIdentifiers(),
              ::testing::Each(::testing::Optional(Not(::testing::StartsWith(":")))));

  ASSERT_TRUE(host.registerService(QStringLiteral("test.other.app")));
  ASSERT_TRUE(pumpUntil([&] { return !activated.empty(); }));
  EXPECT_EQ(activated.front(), "test.other.app");
  EXPECT_THAT(workspace.runningBundleIdentifiers(), Contains(std::optional<std::string>("test.other.app")));

  // The host quits: its name loses its owner.
  ASSERT_TRUE(host.unregisterService(QStringLiteral("test.kettleledger.desktop2")));
  ASSERT_TRUE(pumpUntil([&] { return !terminated.empty(); }));
  EXPECT_EQ(terminated, (std::vector<std::optional<std::string>>{"test.kettleledger.desktop2"}));
}

TEST(DBusWorkspace, WithoutABusNothingRuns) {
  DBusWorkspace workspace(
      QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), "none"));
  EXPECT_FALSE(workspace.isConnected());
  EXPECT_TRUE(workspace.runningBundleIdentifiers().empty());
  QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

}  // namespace
}  // namespace quillory::platform::qt::test
