// The real menu on Qt: the application delegate builds it on a QtStatusItem,
// and the test triggers its QActions as a click would.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "QtPump.h"
#include "app/ShellFixture.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/StatusIcon.h"

namespace quillory::platform::qt::test {
namespace {

class QtShellTest : public app::test::ShellTest {
 protected:
  void SetUp() override { launch(); }
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

TEST_F(QtShellTest, BuildsTheMenuWithStableActionsThatRunTheCommands) {
  EXPECT_EQ(texts(qmenu()), (QStringList{"Kettle Ledger not running", "Never synced", "---", "Sync Now",
                                         "---", "Libraries", "---", "Auto-sync", "Launch at Login", "---",
                                         "Quillory Helper 1.2 (34)", "Quit Quillory Helper"}));
  EXPECT_EQ(action("Sync Now")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  EXPECT_TRUE(action("Auto-sync")->isChecked());

  const QList<QAction*> before = qmenu().actions();
  refresh();
  EXPECT_EQ(qmenu().actions(), before);  // changed in place, not rebuilt
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
  refresh();

  QMenu* submenu = action("Libraries")->menu();
  ASSERT_EQ(submenu->actions().size(), 1);
  QAction* item = submenu->actions().front();
  EXPECT_EQ(item->text(), "R&&D \"Lab\"");  // shown as "R&D", not as a mnemonic
  EXPECT_TRUE(item->isChecked());
  EXPECT_EQ(item->toolTip(), QString::fromStdString(name));

  alerts.queueAnswer(1);  // "Cancel"
  item->trigger();
  EXPECT_TRUE(submenu->actions().front()->isChecked());  // Qt's own toggle is undone

  alerts.queueAnswer(0);                  // "Remove"
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
  EXPECT_FALSE(statusIcon(IconStyle::filled).isMask());
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
