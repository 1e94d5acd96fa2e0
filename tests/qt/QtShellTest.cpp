// The real menu on Qt: the application delegate builds it on a QtStatusItem,
// and the test triggers its QActions as a click would.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "QtPump.h"
#include "app/AppDelegate.h"
#include "engine/ExportManager.h"
#include "libraries/LibraryKeys.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtDispatcher.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/StatusIcon.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/FakeLoginItemService.h"
#include "support/FakeScriptRunner.h"
#include "support/FakeWorkspace.h"
#include "support/MemoryDefaults.h"
#include "support/TempHome.h"

namespace quillory::platform::qt::test {
namespace {

class QtShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager = engine::ExportManager::create(
        engine::Environment{defaults, dispatcher, clock, log, workspace, alerts, scripts, home.path()});
    app::Shell shell{
        .makeStatusItem = [this]() -> std::unique_ptr<StatusItem> {
          auto item = std::make_unique<QtStatusItem>();
          statusItem = item.get();
          return item;
        },
        .dispatcher = dispatcher,
        .alerts = alerts,
        .loginItems = loginItems,
        .log = log,
        .clock = clock,
        .dateText = {"en_GB", "UTC"},
        .version = {"1.0", "7"},
        .becomeAccessory = nullptr,
        .terminate = [this] { ++terminated; },
    };
    delegate = app::AppDelegate::create(std::move(shell), manager);
    delegate->applicationDidFinishLaunching();
  }

  void TearDown() override {
    delegate.reset();
    manager.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  QMenu& menu() { return *statusItem->qmenu(); }
  QAction* action(const QString& text) {
    for (QAction* a : menu().actions()) {
      if (a->text() == text) return a;
    }
    return nullptr;
  }
  QStringList texts(QMenu& m) {
    QStringList list;
    for (QAction* a : m.actions()) list << (a->isSeparator() ? QStringLiteral("---") : a->text());
    return list;
  }
  void refreshNow() {
    manager->notifyStatusChanged();
    pumpFor(50);
  }
  // Answers the next alert with the button of that title, after `meanwhile`
  // ran while it was open.
  void answerNextAlert(const QString& button, std::function<void()> meanwhile = {}) {
    alerts.setAboutToShow([button, meanwhile](QMessageBox& box) {
      QTimer::singleShot(0, &box, [&box, button, meanwhile] {
        if (meanwhile) meanwhile();
        for (QAbstractButton* b : box.buttons()) {
          if (b->text() == button) b->click();
        }
      });
    });
  }

  testing::MemoryDefaults defaults;
  testing::FakeClock clock;
  testing::CapturingLog log;
  testing::FakeWorkspace workspace;
  testing::FakeScriptRunner scripts;
  testing::FakeLoginItemService loginItems;
  testing::TempHome home;
  QtDispatcher dispatcher;
  QtAlertPresenter alerts{dispatcher};
  std::shared_ptr<engine::ExportManager> manager;
  std::shared_ptr<app::AppDelegate> delegate;
  QtStatusItem* statusItem = nullptr;
  int terminated = 0;
};

TEST_F(QtShellTest, BuildsTheMenuWithStableActionsThatRunTheCommands) {
  EXPECT_EQ(texts(menu()), (QStringList{"Kettle Ledger not running", "Never synced", "---", "Sync Now", "---",
                                        "Libraries", "---", "Auto-sync", "Launch at Login", "---",
                                        "Quillory Helper 1.0 (7)", "Quit Quillory Helper"}));
  EXPECT_EQ(action("Sync Now")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  EXPECT_EQ(action("Quit Quillory Helper")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
  EXPECT_FALSE(action("Never synced")->isEnabled());
  EXPECT_TRUE(action("Auto-sync")->isChecked());
  EXPECT_EQ(statusItem->trayIcon().toolTip(), "Quillory");

  const QList<QAction*> before = menu().actions();
  refreshNow();
  EXPECT_EQ(menu().actions(), before);  // changed in place, not rebuilt
  EXPECT_NE(action("Open Kettle Ledger to sync"), nullptr);
  EXPECT_EQ(texts(*action("Libraries")->menu()), QStringList{"No libraries seen yet"});

  action("Auto-sync")->trigger();
  EXPECT_EQ(defaults.value(engine::kAutoSyncEnabledKey).asBool(), false);
  EXPECT_FALSE(action("Auto-sync")->isChecked());
  // Qt would toggle the mark on the click; the mark stays the service's status.
  loginItems.fixStatus(LoginItemStatus::requiresApproval);
  action("Launch at Login")->trigger();
  EXPECT_EQ(loginItems.registers(), 1u);
  EXPECT_FALSE(action("Launch at Login")->isChecked());
  action("Quit Quillory Helper")->trigger();
  EXPECT_EQ(terminated, 1);
}

TEST_F(QtShellTest, LibraryItemsAskBeforeRemovingAndKeepTheirMarkOnCancel) {
  const std::string name = "R&D \"Lab\"";
  defaults.setBool(libraries::syncLibraryKey(name), true);
  refreshNow();

  QMenu* submenu = action("Libraries")->menu();
  ASSERT_EQ(submenu->actions().size(), 1);
  QAction* item = submenu->actions().front();
  EXPECT_EQ(item->text(), "R&&D \"Lab\"");  // shown as "R&D", not as a mnemonic
  EXPECT_TRUE(item->isChecked());
  EXPECT_EQ(item->toolTip(), QString::fromStdString(name));

  // A click that reaches an action past the modal alert (as D-Bus trays
  // deliver them) is ignored: no second alert, no quit.
  int alertsShown = 0;
  answerNextAlert("Cancel", [&] {
    if (alertsShown++ > 0) return;
    item->trigger();
    action("Quit Quillory Helper")->trigger();
  });
  item->trigger();
  EXPECT_EQ(std::pair(alertsShown, terminated), std::pair(1, 0));
  EXPECT_TRUE(submenu->actions().front()->isChecked());  // Qt's own toggle is undone

  answerNextAlert("Remove");
  submenu->actions().front()->trigger();  // the action is replaced while its signal runs
  EXPECT_EQ(defaults.value(libraries::syncLibraryKey(name)).asBool(), false);
  pumpFor(50);
  ASSERT_EQ(submenu->actions().size(), 1);
  EXPECT_FALSE(submenu->actions().front()->isChecked());
}

TEST(QtStatusItem, APlainClickOpensTheMenuUnlessTheSystemDoes) {
  for (const bool systemOpensMenu : {false, true}) {
    QtStatusItem item(statusIcon(), kPlatformIconStyle, systemOpensMenu);
    item.setMenu(item.createMenu());
    item.menu()->addItem("Sync Now", "", nullptr);
    Q_EMIT item.trayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(item.qmenu()->isVisible(), !systemOpensMenu);
    item.qmenu()->hide();
  }
}

TEST(StatusIcon, TemplateIsAMaskFromTheResourcesAndFilledIsNot) {
  const QIcon templateIcon = statusIcon(IconStyle::templateMask);
  EXPECT_TRUE(templateIcon.isMask());
  // The resource's three sizes were found.
  EXPECT_EQ(templateIcon.availableSizes().size(), 3);
  const QImage image = templateIcon.pixmap(64, 64).toImage();
  EXPECT_EQ(qAlpha(image.pixel(2, 2)), 0) << "corner outside the circle";
  EXPECT_GT(qAlpha(image.pixel(10, 32)), 200) << "the disc";
  EXPECT_EQ(qAlpha(image.pixel(28, 28)), 255) << "the letter's counter";

  const QImage filled = statusIcon(IconStyle::filled).pixmap(64, 64).toImage();
  EXPECT_FALSE(statusIcon(IconStyle::filled).isMask());
  EXPECT_EQ(QColor(filled.pixel(38, 45)), QColor(Qt::white)) << "the letter's stem shows white";
  EXPECT_TRUE(indicatorFrame(0, IconStyle::templateMask).isMask());
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

}  // namespace
}  // namespace quillory::platform::qt::test
