// The Linux desktop's pieces: the workspace against a private bus daemon
// started for the test, and launch at login through an XDG autostart entry.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStandardPaths>
#include <string>
#include <tuple>

#include "PrivateBus.h"
#include "QtPump.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/qt/DBusWorkspace.h"
#include "platform/qt/XdgLoginItemService.h"
#include "support/TempHome.h"

namespace quillory::platform::qt::test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TempHome;

class DBusWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bus_.daemonFound()) GTEST_SKIP() << "dbus-daemon is not installed";
  }
  void TearDown() override {
    for (const char* name : {"host", "helper"}) QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
  }
  // The test's connections are "host" and "helper".
  QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(bus_.address(), name); }

  PrivateBus bus_;
};

// The names on the bus, followed through the bus daemon's restart: every
// application is gone meanwhile and seen afresh on the new bus.
TEST_F(DBusWorkspaceTest, OwnedNamesAreRunningApplicationsAlsoAcrossARestartOfTheBus) {
  const std::string kHost = "test.kettleledger.desktop2";
  QDBusConnection host = connect(QStringLiteral("host"));
  ASSERT_TRUE(host.registerService(QString::fromStdString(kHost)));

  DBusWorkspace workspace(connect(QStringLiteral("helper")),
                          [this](const QString& name) { return connect(name); });
  ASSERT_TRUE(workspace.isConnected());
  std::vector<std::optional<std::string>> activated, terminated;
  workspace.observeActivation([&](const std::optional<std::string>& id) { activated.push_back(id); });
  workspace.observeTermination([&](const std::optional<std::string>& id) { terminated.push_back(id); });

  // Connections are not applications.
  EXPECT_THAT(workspace.runningBundleIdentifiers(),
              AllOf(Contains(kHost), ::testing::Each(::testing::Optional(Not(::testing::StartsWith(":"))))));

  ASSERT_TRUE(host.registerService(QStringLiteral("test.other.app")));
  ASSERT_TRUE(pumpUntil([&] { return !activated.empty(); }));
  EXPECT_EQ(activated, (std::vector<std::optional<std::string>>{"test.other.app"}));

  // The host quits: its name loses its owner.
  ASSERT_TRUE(host.unregisterService(QString::fromStdString(kHost)));
  ASSERT_TRUE(pumpUntil([&] { return !terminated.empty(); }));
  EXPECT_EQ(terminated, (std::vector<std::optional<std::string>>{kHost}));

  ASSERT_TRUE(host.registerService(QString::fromStdString(kHost)));
  ASSERT_TRUE(pumpUntil([&] { return activated.size() == 2; }));
  bus_.stop();
  ASSERT_TRUE(pumpUntil([&] { return terminated.size() == 3; }));  // the host and the other application
  EXPECT_TRUE(workspace.runningBundleIdentifiers().empty());
  bus_.start();
  QDBusConnection::disconnectFromBus(QStringLiteral("host"));
  host = connect(QStringLiteral("host"));  // the host on the new bus, before the helper is back
  ASSERT_TRUE(host.registerService(QString::fromStdString(kHost)));
  bool reconnected = false;
  QObject::connect(&workspace, &DBusWorkspace::reconnected, [&] { reconnected = true; });
  ASSERT_TRUE(pumpUntil([&] { return reconnected; }));
  EXPECT_EQ(activated.back(), kHost);
  EXPECT_THAT(workspace.runningBundleIdentifiers(), Contains(std::optional<std::string>(kHost)));
}

// A tray host as the StatusNotifierItem protocol has it: it says that a host is
// there and counts the icons that register with it.
class TrayWatcher final : public QDBusVirtualObject {
 public:
  int registrations = 0;
  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierWatcher\"><method name=\"RegisterStatusNotifierItem\">"
        "<arg type=\"s\" direction=\"in\"/></method><property name=\"IsStatusNotifierHostRegistered\" "
        "type=\"b\" access=\"read\"/></interface>");
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() == QLatin1String("RegisterStatusNotifierItem")) ++registrations;
    QVariantList answer;
    if (message.member() == QLatin1String("Introspect")) answer << "<node>" + introspect({}) + "</node>";
    if (message.member() == QLatin1String("Get")) answer << QVariant::fromValue(QDBusVariant(true));
    connection.send(message.createReply(answer));
    return true;
  }
};

// The real helper on a virtual display with a tray host on a private bus: the
// bus daemon restarts, and the helper says so (both ways) and puts its icon in
// the tray again.
TEST_F(DBusWorkspaceTest, TheHelperRegistersItsIconAgainWhenTheBusComesBack) {
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
  if (xvfb.isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
  auto display = platform::ChildProcess::spawn(xvfb.toStdString(), {"-displayfd", "1", "-nolisten", "tcp"});
  std::string number;
  ASSERT_TRUE(pumpReading(*display, number, [&] { return number.find('\n') != std::string::npos; }));
  TrayWatcher watcher;
  const auto hostTheTray = [&] {
    QDBusConnection::disconnectFromBus(QStringLiteral("host"));
    QDBusConnection tray = connect(QStringLiteral("host"));
    ASSERT_TRUE(tray.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher));
    ASSERT_TRUE(tray.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
  };
  hostTheTray();
  TempHome home;
  // libdbus with its default (fatal) checks: the bus stops while the helper
  // may still be starting, and the helper must not end there.
  auto helper = platform::ChildProcess::spawn(
      "/usr/bin/env",
      {"-u", "XDG_CONFIG_HOME", "-u", "DBUS_FATAL_WARNINGS", "HOME=" + home.path().string(),
       "DBUS_SESSION_BUS_ADDRESS=" + bus_.address().toStdString(),
       "DISPLAY=:" + number.substr(0, number.find('\n')), "QT_QPA_PLATFORM=xcb", "TSAN_OPTIONS=report_bugs=0",
       "/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLORY_HELPER_PATH});
  std::string output;
  const auto until = [&](const std::function<bool()>& done) { return pumpReading(*helper, output, done); };
  EXPECT_TRUE(until([&] { return watcher.registrations == 1; })) << output;
  bus_.stop();
  EXPECT_TRUE(until([&] { return output.find("Lost the session bus") != std::string::npos; })) << output;
  bus_.start();
  hostTheTray();
  EXPECT_TRUE(until([&] {
    return watcher.registrations == 2 &&
           output.find("Session bus back; reading the running") != std::string::npos;
  })) << output;
  helper->terminate();
  display->terminate();
}

TEST(XdgLoginItemService, StatusFollowsTheUserEntryOverTheSystemsAndEachSwitch) {
  // The entry in the user's folder, the earlier versions' one beside it and
  // the system-wide one (none when empty), and what the menu shows.
  const char* on = "[Desktop Entry]\nType=Application\nExec=quillory-helper\n";
  const std::tuple<const char*, const char*, const char*, LoginItemStatus> cases[] = {
      {on, "", "", LoginItemStatus::enabled},  // the README's copy
      {"[Desktop Entry]\nHidden = true \n", "", "", LoginItemStatus::notRegistered},
      {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", "", on, LoginItemStatus::notRegistered},
      // A switch in another group switches nothing off.
      {"[Desktop Entry]\nExec=x\n[Desktop Action quit]\nHidden=true\n", "", "", LoginItemStatus::enabled},
      {"", on, "", LoginItemStatus::enabled},
      {"", "", on, LoginItemStatus::enabled},
      {"", "", "[Desktop Entry]\nHidden=true\n", LoginItemStatus::notRegistered},
  };
  for (const auto& [user, earlier, system, status] : cases) {
    TempHome home;
    XdgLoginItemService service(home / "config/autostart", "/opt/A B/helper", {home / "xdg/autostart"});
    for (const auto& [folder, name, text] : {std::tuple{"config/autostart", kAutostartFileName, user},
                                             {"config/autostart", kEarlierAutostartFileName, earlier},
                                             {"xdg/autostart", kAutostartFileName, system}})
      if (*text) home.writeFile(std::filesystem::path(folder) / name, text);
    const std::string which = std::string(user) + "|" + earlier + "|" + system;
    EXPECT_EQ(service.status(), status) << which;
    // Off wins over every entry, and on again over the override.
    ASSERT_EQ(service.unregisterItem(), std::nullopt);
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered) << which;
    ASSERT_EQ(service.registerItem(), std::nullopt);
    EXPECT_EQ(service.status(), LoginItemStatus::enabled) << which;
    EXPECT_EQ(files::listFolder(home / "config/autostart"), std::vector<std::string>{kAutostartFileName});
    EXPECT_THAT(files::readFile(service.file()).value_or(""),
                HasSubstr("\nExec=\"/opt/A B/helper\"\nTryExec=/opt/A B/helper\n"));
  }
  // A folder where the entry should be: not registered, and both calls fail
  // with a text instead of claiming success.
  TempHome home;
  XdgLoginItemService service(home / "config/autostart", "/opt/helper");
  home.makeFolder("config/autostart/quillory-helper.desktop/inside");
  EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
  EXPECT_THAT(service.registerItem().value_or(""), HasSubstr("quillory-helper.desktop"));
  EXPECT_TRUE(service.unregisterItem());
  EXPECT_THAT(systemAutostartFolders("/opt/xdg:relative::/etc/xdg"),
              ::testing::ElementsAre("/opt/xdg/autostart", "/etc/xdg/autostart"));
  EXPECT_THAT(systemAutostartFolders(std::nullopt), ::testing::ElementsAre("/etc/xdg/autostart"));
}

TEST(XdgLoginItemService, ValuesAndTheFolderFollowTheDesktopEntryRules) {
  EXPECT_EQ(execValueFor("/usr/bin/quillory-helper"), "/usr/bin/quillory-helper");
  EXPECT_EQ(execValueFor("/home/a b/helper"), "\"/home/a b/helper\"");
  EXPECT_EQ(execValueFor("/x/\"q\"/$HOME/`x`"), "\"/x/\\\\\"q\\\\\"/\\\\$HOME/\\\\`x\\\\`\"");
  EXPECT_EQ(execValueFor("/x/a\\b"), "\"/x/a\\\\\\\\b\"");
  EXPECT_EQ(execValueFor("/x/100%/helper"), "/x/100%%/helper");
  EXPECT_EQ(stringValueFor(" /x\\a\tb%"), "\\s/x\\\\a\\tb%");  // TryExec's
  EXPECT_EQ(autostartFolder("/home/u", ""), "/home/u/.config/autostart");
  EXPECT_EQ(autostartFolder("/home/u", "relative/cfg"), "/home/u/.config/autostart");
  EXPECT_EQ(autostartFolder("/home/u", "/etc/xdg-u"), "/etc/xdg-u/autostart");
}

}  // namespace
}  // namespace quillory::platform::qt::test
