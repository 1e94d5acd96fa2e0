// The Linux desktop's pieces: the workspace against a private bus daemon
// started for the test, and launch at login through an XDG autostart entry.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <string>
#include <tuple>

#include "PrivateBus.h"
#include "QtPump.h"
#include "platform/Files.h"
#include "platform/qt/DBusWorkspace.h"
#include "platform/qt/XdgLoginItemService.h"
#include "support/TempHome.h"

namespace quillory::platform::qt::test {
namespace {

using ::testing::Contains;
using ::testing::Not;
using testing::TempHome;

class DBusWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bus_.daemonFound()) GTEST_SKIP() << "dbus-daemon is not installed";
    ASSERT_FALSE(bus_.address().isEmpty());
  }
  void TearDown() override {
    for (const char* name : {"host", "helper"}) QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
  }
  // The test's connections are "host" and "helper".
  QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(bus_.address(), name); }

  PrivateBus bus_;
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

TEST(XdgLoginItemService, StatusFollowsTheUserEntryOverTheSystemsAndEachSwitch) {
  // The entry in the user's folder, the earlier versions' one beside it and
  // the system-wide one (none when empty), and what the menu shows.
  struct Case {
    const char *user, *earlier, *system;
    LoginItemStatus status;
  };
  const char* on = "[Desktop Entry]\nType=Application\nExec=quillory-helper\n";
  const Case cases[] = {
      {on, "", "", LoginItemStatus::enabled},  // the README's copy
      {"[Desktop Entry]\nHidden = true \n", "", "", LoginItemStatus::notRegistered},
      {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", "", on, LoginItemStatus::notRegistered},
      // A switch in another group switches nothing off.
      {"[Desktop Entry]\nExec=x\n[Desktop Action quit]\nHidden=true\n", "", "", LoginItemStatus::enabled},
      {"", on, "", LoginItemStatus::enabled},
      {"", "", on, LoginItemStatus::enabled},
      {"", "", "[Desktop Entry]\nHidden=true\n", LoginItemStatus::notRegistered},
  };
  for (const Case& c : cases) {
    TempHome home;
    XdgLoginItemService service(home / "autostart", "/usr/bin/quillory-helper", {home / "xdg/autostart"});
    for (const auto& [folder, name, text] : {std::tuple{"autostart", kAutostartFileName, c.user},
                                             {"autostart", kEarlierAutostartFileName, c.earlier},
                                             {"xdg/autostart", kAutostartFileName, c.system}}) {
      if (*text) home.writeFile(std::filesystem::path(folder) / name, text);
    }
    EXPECT_EQ(service.status(), c.status) << c.user << "|" << c.earlier << "|" << c.system;
    // Switching it off wins over every entry, and on again over the override.
    if (c.status == LoginItemStatus::enabled) {
      ASSERT_EQ(service.unregisterItem(), std::nullopt);
      EXPECT_EQ(service.status(), LoginItemStatus::notRegistered) << c.user << "|" << c.earlier << "|" << c.system;
      ASSERT_EQ(service.registerItem(), std::nullopt);
      EXPECT_EQ(service.status(), LoginItemStatus::enabled);
      EXPECT_EQ(files::listFolder(home / "autostart"), std::vector<std::string>{kAutostartFileName});
    }
  }
  EXPECT_THAT(systemAutostartFolders("/opt/xdg:relative::/etc/xdg"),
              ::testing::ElementsAre("/opt/xdg/autostart", "/etc/xdg/autostart"));
  EXPECT_THAT(systemAutostartFolders(std::nullopt), ::testing::ElementsAre("/etc/xdg/autostart"));
}

TEST(XdgLoginItemService, RegistersUnregistersAndReportsFailures) {
  TempHome home;
  XdgLoginItemService service(home / "config/autostart", "/opt/Quillory Helper/bin/quillory-helper");
  // Nothing to remove is no failure.
  EXPECT_EQ(service.unregisterItem(), std::nullopt);

  ASSERT_EQ(service.registerItem(), std::nullopt);  // creates the folders
  EXPECT_EQ(service.status(), LoginItemStatus::enabled);
  EXPECT_NE(files::readFile(service.file())
                .value_or("")
                .find("\nExec=\"/opt/Quillory Helper/bin/quillory-helper\"\n"),
            std::string::npos);

  // A switched-off entry is replaced by a fresh one.
  home.writeFile("config/autostart/quillory-helper.desktop", "[Desktop Entry]\nHidden=true\n");
  ASSERT_EQ(service.registerItem(), std::nullopt);
  EXPECT_EQ(service.status(), LoginItemStatus::enabled);

  ASSERT_EQ(service.unregisterItem(), std::nullopt);
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);

  // A folder where the entry should be: not registered, and both calls fail
  // with a text instead of claiming success.
  home.makeFolder("config/autostart/quillory-helper.desktop/inside");
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
  const std::optional<std::string> error = service.registerItem();
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("quillory-helper.desktop"), std::string::npos);
  EXPECT_TRUE(service.unregisterItem());
}

TEST(XdgLoginItemService, ExecValueQuotesAndEscapesThePath) {
  EXPECT_EQ(execValueFor("/usr/bin/quillory-helper"), "/usr/bin/quillory-helper");
  EXPECT_EQ(execValueFor("/home/a b/helper"), "\"/home/a b/helper\"");
  EXPECT_EQ(execValueFor("/x/\"q\"/$HOME/`x`"), "\"/x/\\\\\"q\\\\\"/\\\\$HOME/\\\\`x\\\\`\"");
  EXPECT_EQ(execValueFor("/x/a\\b"), "\"/x/a\\\\\\\\b\"");
  EXPECT_EQ(execValueFor("/x/100%/helper"), "/x/100%%/helper");
}

TEST(XdgLoginItemService, AutostartFolderFollowsXdgConfigHome) {
  EXPECT_EQ(autostartFolder("/home/u", ""), "/home/u/.config/autostart");
  EXPECT_EQ(autostartFolder("/home/u", "relative/cfg"), "/home/u/.config/autostart");
  EXPECT_EQ(autostartFolder("/home/u", "/etc/xdg-u"), "/etc/xdg-u/autostart");
}

}  // namespace
}  // namespace quillory::platform::qt::test
