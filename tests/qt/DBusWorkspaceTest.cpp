// The workspace against a private bus daemon started for the test.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>

#include "QtPump.h"
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
    bus_.start(daemon,
               {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    ASSERT_TRUE(bus_.waitForStarted(5000));
    ASSERT_TRUE(bus_.waitForReadyRead(5000));
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    ASSERT_FALSE(address_.isEmpty());
  }
  void TearDown() override {
    for (const QString& name : connections_) QDBusConnection::disconnectFromBus(name);
    if (bus_.state() != QProcess::NotRunning) {
      bus_.terminate();
      bus_.waitForFinished(5000);
    }
  }

  QDBusConnection connect(const QString& name) {
    connections_ << name;
    return QDBusConnection::connectToBus(address_, name);
  }

  QProcess bus_;
  QString address_;
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
  for (const auto& id : workspace.runningBundleIdentifiers()) {
    EXPECT_FALSE(id->starts_with(":")) << *id;  // connections are not applications
  }

  ASSERT_TRUE(host.registerService(QStringLiteral("test.other.app")));
  ASSERT_TRUE(pumpUntil([&] { return !activated.empty(); }));
  EXPECT_EQ(activated.front(), "test.other.app");
  EXPECT_THAT(workspace.runningBundleIdentifiers(), Contains(std::optional<std::string>("test.other.app")));

  // The host quits: its name loses its owner.
  ASSERT_TRUE(host.unregisterService(QStringLiteral("test.kettleledger.desktop2")));
  ASSERT_TRUE(pumpUntil([&] { return !terminated.empty(); }));
  EXPECT_EQ(terminated, (std::vector<std::optional<std::string>>{"test.kettleledger.desktop2"}));
  EXPECT_EQ(activated.size(), 1u);
  EXPECT_THAT(workspace.runningBundleIdentifiers(),
              Not(Contains(std::optional<std::string>("test.kettleledger.desktop2"))));
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
