// The real menu on Qt: the application delegate builds it on a QtStatusItem,
// and the test triggers its QActions as a click would.

#include <gtest/gtest.h>

#include <QAction>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextDocument>
#include <QTimer>

#include "QtPump.h"
#include "app/ShellFixture.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/StatusIcon.h"

namespace quillory::platform::qt::test {
namespace {

// The text a tool tip shows: Qt takes a text that looks like markup as rich
// text.
QString shownText(const QString& toolTip) {
  if (!Qt::mightBeRichText(toolTip)) return toolTip;
  QTextDocument document;
  document.setHtml(toolTip);
  return document.toPlainText();
}

void press(QObject* receiver, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent event(QEvent::KeyPress, key, modifiers);
  QCoreApplication::sendEvent(receiver, &event);
}

class QtShellTest : public app::test::ShellTest {
 protected:
  void TearDown() override {
    ShellTest::TearDown();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  std::unique_ptr<StatusItem> makeStatusItem() override {
    auto item = std::make_unique<QtStatusItem>();
    qtItem = item.get();
    return item;
  }

  QMenu& qmenu() { return *qtItem->qmenu(); }
  QAction* action(const QString& text) {
    for (QAction* a : qmenu().actions()) {
      if (a->text() == text) return a;
    }
    return nullptr;
  }
  QStringList texts(QMenu& m) {
    QStringList list;
    for (QAction* a : m.actions()) list << (a->isSeparator() ? QStringLiteral("---") : a->text());
    return list;
  }

  QtStatusItem* qtItem = nullptr;  // owned by the delegate
};

TEST_F(QtShellTest, LaunchBuildsTheMenuWithStableActionsThatRunTheCommands) {
  defaults.setBool(engine::kAutoSyncEnabledKey, false);
  loginItems.setStatus(LoginItemStatus::enabled);
  launch();
  EXPECT_EQ(accessoryCalls, 1);
  EXPECT_EQ(texts(qmenu()),
            (QStringList{"Kettle Ledger not running", "Never synced", "---", "Sync Now", "---", "Libraries",
                         "Show Published Files", "Show Log\u2026", "---", "Auto-sync", "Launch at Login",
                         "---", "Quillory Helper 1.2 (34)", "Quit Quillory Helper"}));
  for (const QString line : {"Kettle Ledger not running", "Never synced", "Quillory Helper 1.2 (34)"}) {
    EXPECT_FALSE(action(line)->isEnabled()) << line.toStdString();
  }
  EXPECT_EQ(action("Sync Now")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  EXPECT_FALSE(action("Auto-sync")->isChecked());  // both marks read at launch
  EXPECT_TRUE(action("Launch at Login")->isChecked());
  EXPECT_EQ(dispatcher.pendingGlobalTasks(), 1u);  // the first check

  const QList<QAction*> before = qmenu().actions();
  refresh();
  EXPECT_EQ(qmenu().actions(), before);  // changed in place, not rebuilt
  EXPECT_NE(action("Open Kettle Ledger to sync"), nullptr);
  EXPECT_EQ(texts(*action("Libraries")->menu()), QStringList{"No libraries seen yet"});
  EXPECT_EQ(shownText(qtItem->trayIcon().toolTip()), "Quillory Helper\nNever synced");

  action("Auto-sync")->trigger();
  EXPECT_TRUE(action("Auto-sync")->isChecked());
  dispatcher.runGlobalTasks();  // stored on the background queue
  EXPECT_EQ(defaults.value(engine::kAutoSyncEnabledKey).asBool(), true);
  // Qt would toggle the mark on the click; the mark stays the service's status.
  loginItems.setStatus(LoginItemStatus::requiresApproval);
  action("Launch at Login")->trigger();
  EXPECT_EQ(loginItems.registers(), 1u);
  EXPECT_FALSE(action("Launch at Login")->isChecked());
  // The shortcut shown works while the menu is open, also from its submenu.
  qmenu().popup(QPoint(0, 0));
  press(action("Libraries")->menu(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(pumpUntil([&] { return terminated == 1; }));
  EXPECT_FALSE(qmenu().isVisible());
}

TEST_F(QtShellTest, LibrariesAreListedSwitchedOnAtOnceAndOffOnlyAfterRemove) {
  const std::string name = "Tom's \"R&D\" <h1>2026</h1>";
  launch();
  // Stored in an order other than the menu's.
  defaults.setBool(libraries::syncLibraryKey("Zeta"), true);
  defaults.setBool(libraries::syncLibraryKey("Alpha"), false);
  defaults.setString(libraries::syncLibraryKey("Beta"), "not a bool");
  defaults.setBool(libraries::syncLibraryKey(name), true);
  for (const char* off : {"Alpha", "Beta"}) {  // their folders exist: pruning keeps them
    defaults.setString(libraries::libraryPathKey(off), home.path().string());
  }
  publishMarker(name, "toms-r-d-2026-usd", "2026-12-05T08:00:00Z");
  refresh();
  QMenu* submenu = action("Libraries")->menu();
  const auto shown = [submenu](int i) { return submenu->actions().at(i); };
  // Shown as "R&D", not as a mnemonic, and "<h1>" not as markup; the last two
  // are on.
  EXPECT_EQ(texts(*submenu), (QStringList{"Alpha", "Beta", "Tom's \"R&&D\" <h1>2026</h1>", "Zeta"}));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(shown(i)->isChecked(), i >= 2) << i;
  EXPECT_EQ(shownText(shown(2)->toolTip()), QString::fromStdString(name));

  shown(0)->trigger();
  EXPECT_TRUE(shown(0)->isChecked());  // shown switched on at once
  // The launch's first check, the write-back of "autoSyncEnabled" and the
  // switch-on: no sync.
  EXPECT_EQ(dispatcher.pendingGlobalTasks(), 3u);

  for (const int answer : {-1, 1}) {  // ended without a button, "Cancel"
    alerts.queueAnswer(answer);
    shown(2)->trigger();
    EXPECT_TRUE(shown(2)->isChecked()) << answer;  // Qt's own toggle is undone
  }

  alerts.queueAnswer(0);
  shown(2)->trigger();                   // the action is replaced while its signal runs
  EXPECT_EQ(alerts.shown().size(), 3u);  // none for switching on
  EXPECT_EQ(alerts.shown().back().message, "Remove \"Tom's \"R&D\" <h1>2026</h1>\" from mobile devices?");
  // Shown off at once; stored and deleted on the background queue, after the
  // switch-on, never on the main thread.
  EXPECT_FALSE(shown(2)->isChecked());
  EXPECT_TRUE(files::exists(home / documents() / "toms-r-d-2026-usd.json"));
  dispatcher.runGlobalTasks();
  EXPECT_EQ(defaults.value(libraries::syncLibraryKey("Alpha")).asBool(), true);
  EXPECT_FALSE(files::exists(home / documents() / "toms-r-d-2026-usd.json"));
  EXPECT_EQ(defaults.value(libraries::syncLibraryKey(name)).asBool(), false);
  pumpFor(50);
  EXPECT_FALSE(shown(2)->isChecked());
}

TEST(QtStatusItem, APlainClickOpensTheMenuUnlessTheSystemDoes) {
  for (const bool systemOpensMenu : {false, true}) {
    QtStatusItem item(statusIcon(), statusIcon(kPlatformIconStyle, true), kPlatformIconStyle,
                      systemOpensMenu);
    item.setMenu(item.createMenu());
    item.menu()->addItem("Sync Now", "", nullptr);
    Q_EMIT item.trayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(item.qmenu()->isVisible(), !systemOpensMenu);
    item.qmenu()->hide();
    // While an alert is open, neither click opens the menu over it.
    item.setAlertOpen(true);
    Q_EMIT item.trayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(item.qmenu()->isVisible());
    EXPECT_EQ(item.trayIcon().contextMenu(), nullptr);
    item.setAlertOpen(false);
    EXPECT_EQ(item.trayIcon().contextMenu(), item.qmenu());
  }
}

// A menu Qt draws takes "&&" for "&"; one exported over D-Bus is drawn by the
// tray host, where "__" is "_" and "&" is itself, after Qt has turned the
// text's first "&" into "_" (here "Smith__Jones _& Co && Sons").
TEST(QtMenu, TitlesFollowTheLabelRulesOfWhoDrawsTheMenu) {
  const std::string name = "Smith_Jones & Co && Sons";
  QtMenu menu;
  const auto item = std::dynamic_pointer_cast<QtMenuItem>(menu.addItem(name, "", nullptr));
  const auto submenu = menu.addItem("Libraries", "", nullptr)->makeSubmenu();
  const auto inSubmenu = std::dynamic_pointer_cast<QtMenuItem>(submenu->addItem(name, "", nullptr));
  EXPECT_EQ(item->action()->text(), "Smith_Jones && Co &&&& Sons");
  menu.setDBusLabels(true);
  for (const auto& shown : {item, inSubmenu})
    EXPECT_EQ(shown->action()->text(), "Smith__Jones && Co && Sons");
  EXPECT_EQ(item->title(), name);
}

TEST(StatusIcon, TemplateIsAMaskFromTheResourcesAndFilledIsNot) {
  const QIcon templateIcon = statusIcon(IconStyle::templateMask);
  EXPECT_TRUE(templateIcon.isMask());
  // The resource's three sizes were found.
  EXPECT_EQ(templateIcon.availableSizes().size(), 3);
  EXPECT_FALSE(statusIcon(IconStyle::filled).isMask());
  EXPECT_EQ(statusIcon(IconStyle::filled).availableSizes().size(), 3);
  // The error variants: the same kind of image, with the badge at the lower
  // right (red when filled; a template's stays black and clear).
  for (const IconStyle style : {IconStyle::templateMask, IconStyle::filled}) {
    const QIcon error = statusIcon(style, true);
    EXPECT_EQ(error.isMask(), style == IconStyle::templateMask);
    EXPECT_EQ(error.availableSizes().size(), 3);
    const QImage plain = statusIcon(style).pixmap(32).toImage(), marked = error.pixmap(32).toImage();
    const QColor disc = marked.pixelColor(27, 26), mark = marked.pixelColor(23, 20);  // beside and in the "!"
    EXPECT_NE(plain, marked);
    EXPECT_EQ(disc.red() > 150 && disc.green() < 100, style == IconStyle::filled)
        << disc.name().toStdString();
    EXPECT_TRUE(disc.alpha() > 200 && (mark.alpha() == 0) == (style == IconStyle::templateMask));
  }
  QtStatusItem item;
  item.setIconShown(true);
  const qint64 plain = item.trayIcon().icon().cacheKey();
  item.setErrorShown(true);
  EXPECT_NE(item.trayIcon().icon().cacheKey(), plain);
  item.setErrorShown(false);
  EXPECT_EQ(item.trayIcon().icon().cacheKey(), plain);
}

TEST(StatusIcon, TheIndicatorStepsThroughTheSameImagesEveryTime) {
  // The tray caches a scaled copy of every image it is given by the image's
  // identity: an image made anew for each frame or each sync grows the process.
  QtStatusItem item;
  std::vector<qint64> shown;
  for (int turn = 0; turn < 2; ++turn) {
    item.setIconShown(false);
    shown.push_back(item.trayIcon().icon().cacheKey());
    item.setIndicatorAnimating(true);
    shown.push_back(item.trayIcon().icon().cacheKey());
    item.setIndicatorAnimating(false);
  }
  item.setIndicatorAnimating(true);
  const int frame = item.indicatorFrame();
  EXPECT_TRUE(pumpUntil([&] { return item.indicatorFrame() != frame; })) << "the frames step on";
  EXPECT_EQ(shown[0], shown[2]) << "the blank image";
  EXPECT_EQ(shown[1], shown[3]) << "the indicator's first frame";
}

// On a desktop (scripts/on-x-desktop.sh; skipped elsewhere): while the user
// types in another window, an alert the user did not cause leaves the
// keyboard there, and a Return typed then, in that window or (in its first
// second) in the alert, does not press "Sync"; one the user caused takes the
// keyboard. The status item hears of each alert.
TEST(QtAlertOnX, AnAlertTheUserDidNotCauseLeavesTheKeyboardWhereItIs) {
  const std::string xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool")).toStdString();
  const std::string xev = QStandardPaths::findExecutable(QStringLiteral("xev")).toStdString();
  if (QGuiApplication::platformName() != QLatin1String("xcb") || xdotool.empty() || xev.empty()) {
    GTEST_SKIP() << "needs an X desktop, xdotool and xev";
  }
  const auto run = [&xdotool](const std::vector<std::string>& arguments) {
    std::string output;
    auto child = platform::ChildProcess::spawn(xdotool, arguments);
    child->readOutput(output);
    child->reap();
    return output;
  };
  auto typing = platform::ChildProcess::spawn(xev, {"-name", "typing"});
  ASSERT_TRUE(pumpUntil(
      [&] {
        return run({"getwindowfocus", "getwindowname"}) == "typing\n";
      },
      20000))
      << "the window manager gave the new window no keyboard";
  testing::ManualDispatcher dispatcher;
  QtAlertPresenter alerts(dispatcher);
  std::vector<bool> openChanges;
  alerts.setOpenChanged([&](bool open) { openChanges.push_back(open); });
  for (const bool causedByUser : {false, true}) {
    std::string focused;
    alerts.setAboutToShow([&](QMessageBox& box) {
      if (!causedByUser) {
        QTimer::singleShot(500, &box, [&] {
          focused = run({"getwindowfocus", "getwindowname"});
          run({"key", "Return"});
          press(box.defaultButton(), Qt::Key_Return);
          QTimer::singleShot(300, &box, [&box] { box.done(-5); });
        });
        return;
      }
      // The window manager hands over the keyboard when it gets to it (late
      // on a loaded machine): wait for it, then type Return into the alert.
      auto* poll = new QTimer(&box);
      QObject::connect(poll, &QTimer::timeout, &box, [&, poll, deadline = QDeadlineTimer(20000)] {
        focused = run({"getwindowfocus", "getwindowname"});
        if (focused != "Quillory Helper\n" && !deadline.hasExpired()) return;
        poll->stop();
        run({"key", "Return"});
        QTimer::singleShot(10000, &box, [&box] { box.done(-5); });
      });
      poll->start(100);
    });
    const int answer = alerts.run(
        {"Sync \"Biz\" with Quillory?", "", AlertStyle::informational, {"Sync", "Don't Sync"}, causedByUser});
    EXPECT_EQ(focused, causedByUser ? "Quillory Helper\n" : "typing\n");
    EXPECT_EQ(answer == 0, causedByUser);
  }
  EXPECT_EQ(openChanges, (std::vector<bool>{true, false, true, false}));
  typing->terminate();
}

}  // namespace
}  // namespace quillory::platform::qt::test
