// The status menu on the real Qt shell: the application delegate around a
// real ExportManager builds it on a QtStatusItem, and the test triggers its
// QActions as a click would. The test's thread is the main thread; global
// tasks are only recorded (queued mode), so a started sync stays "running"
// until the test runs them with `dispatcher.runGlobalTasks()`.

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
#include "app/AppDelegate.h"
#include "app/MenuTitle.h"
#include "bridge/HostScripts.h"
#include "engine/ExportManager.h"
#include "libraries/LibraryKeys.h"
#include "platform/ChildProcess.h"
#include "platform/DesktopServices.h"
#include "platform/Files.h"
#include "platform/Notifier.h"
#include "platform/posix/JsonDefaults.h"
#include "platform/qt/QtAlertPresenter.h"
#include "platform/qt/QtMenu.h"
#include "platform/qt/QtStatusItem.h"
#include "platform/qt/StatusIcon.h"
#include "publish/ContainerPaths.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/FakeLoginItemService.h"
#include "support/FakeScriptRunner.h"
#include "support/FakeWorkspace.h"
#include "support/ManualDispatcher.h"
#include "support/MemoryDefaults.h"
#include "support/ScriptedAlerts.h"
#include "support/TempHome.h"

namespace quillory::platform::qt::test {
namespace {

using namespace app;

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

// The items' texts, "---" for a separator; "~" marks an item that is disabled, "+" one that is checked.
QStringList texts(const QMenu& m) {
  QStringList list;
  for (QAction* a : m.actions())
    list << (a->isSeparator() ? QStringLiteral("---")
                              : (a->isEnabled() ? "" : "~") + QString(a->isChecked() ? "+" : "") + a->text());
  return list;
}

// A click on the item.
void choose(const QtMenuItem& item) { item.action()->trigger(); }

// The desktop's notifications and its "open", recorded in order.
struct FakeDesktop final : Notifier, DesktopServices {
  void notify(const std::string& title, const std::string& body) override { sent.emplace_back(title, body); }
  bool open(const std::filesystem::path& path) override { return opened.push_back(path), true; }
  std::vector<std::pair<std::string, std::string>> sent;
  std::vector<std::filesystem::path> opened;
};

// An export of one receipt, which publishes.
const char* const kGood = R"({"items":[{"amountsOriginal":{"currency":"EUR"}}]})";

class ShellTest : public ::testing::Test {
 protected:
  // A notification after the delegate is gone does nothing: neither the
  // manager's hook nor the menu keeps it (LeakSanitizer would say).
  void TearDown() override {
    if (manager) manager->notifyStatusChanged();
    delegate.reset();
    deliver();
    if (manager) manager->callStatusHookNow();
    manager.reset();
    deliver();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // Creates the manager and the delegate and finishes launching.
  void launch() {
    manager = engine::ExportManager::create(
        engine::Environment{*settings, dispatcher, clock, log, workspace, alerts, scripts, home.path()});
    const auto makeStatusItem = [this] { return std::unique_ptr<StatusItem>(statusItem = new QtStatusItem); };
    // In the order of Shell's fields (becoming an accessory, terminating); the
    // fake desktop is also the notifier.
    delegate =
        AppDelegate::create(Shell{makeStatusItem, dispatcher, alerts, loginItems, log, clock,
                                  presentation::DateTextSettings{"en_US", "UTC"}, VersionInfo{"1.2", "34"},
                                  [this] { ++accessoryCalls; }, [this] { ++terminated; }, runsTranslocated,
                                  &desktop, &desktop, home / "helper.log"},
                            manager);
    delegate->applicationDidFinishLaunching();
  }

  Menu& menu() { return *statusItem->menu(); }
  QMenu& qmenu() { return *statusItem->qmenu(); }
  // The item titled `title` (failing the test when there is none).
  QtMenuItem& item(const std::string& title) {
    if (const auto found = menu().itemWithTitle(title)) return dynamic_cast<QtMenuItem&>(*found);
    throw std::out_of_range("no menu item titled \"" + title + "\"");
  }
  QAction* action(const std::string& title) { return item(title).action(); }
  Menu& libraries() { return *item(kLibrariesTitle).submenu(); }
  QtMenuItem& library(std::size_t index) { return dynamic_cast<QtMenuItem&>(*libraries().items().at(index)); }
  std::string libraryLine() { return menu().items().at(0)->title(); }
  std::string statusLine() { return menu().items().at(1)->title(); }
  // Delivers the status notifications queued so far (and the refreshes they
  // queue).
  void deliver() { dispatcher.runMainUntilIdle(); }
  void refresh() { manager->notifyStatusChanged(), deliver(); }
  // A sync started now runs to its end.
  void runSync() { dispatcher.runGlobalTasks(), deliver(); }

  // Kettle Ledger runs with `name` open; a check reports it now, and so will
  // every later one.
  void hostShows(const std::string& name) {
    workspace.launch(engine::ExportManager::klBundleID);
    scripts.setAnswer(std::string(bridge::kLibraryNameScript), name);
    manager->periodicCheck();
    deliver();
  }

  // The library's published file name record and its update marker.
  void publishMarker(const std::string& library, const std::string& fileBase, const std::string& markerText) {
    defaults.setString(libraries::libraryFilenameKey(library), fileBase + ".json");
    // The document names its library, so that a switch-off finds it its own.
    std::string quoted;
    for (const char c : library) quoted += c == '"' || c == '\\' ? std::string{'\\', c} : std::string{c};
    home.writeFile(documents() / (fileBase + ".json"), "{\"libraryName\":\"" + quoted + "\"}");
    home.writeFile(documents() / (fileBase + "_updated.txt"), markerText);
  }
  std::filesystem::path documents() const { return publish::kContainerDocumentsRelative; }

  testing::MemoryDefaults defaults;
  Defaults* settings = &defaults;  // the manager's
  testing::ManualDispatcher dispatcher{testing::ManualDispatcher::GlobalMode::queued};
  testing::FakeClock clock;  // 2026-12-05T09:00:00Z
  testing::CapturingLog log;
  testing::FakeWorkspace workspace;
  testing::ScriptedAlerts alerts{&dispatcher};
  testing::FakeScriptRunner scripts;
  testing::FakeLoginItemService loginItems;
  FakeDesktop desktop;
  testing::TempHome home;
  std::optional<posix::JsonDefaults> file;  // a settings file in the home, where a case wants one
  QtStatusItem* statusItem = nullptr;       // owned by the delegate
  bool runsTranslocated = false;            // set before `launch`
  int accessoryCalls = 0, terminated = 0;
  std::shared_ptr<engine::ExportManager> manager;
  std::shared_ptr<AppDelegate> delegate;
};

TEST_F(ShellTest, StatusLineShowsTheCurrentLibrarysMarkerAndMovesOnWithTheTimer) {
  launch();
  publishMarker("Business", "business-eur", " \t2026-12-05T08:41:00+00:00\r\n");  // read trimmed
  refresh();
  EXPECT_EQ(libraryLine(), "Open Kettle Ledger to sync");
  EXPECT_EQ(statusLine(), "Never synced");  // no current library, no marker

  hostShows("Business");
  EXPECT_EQ(statusLine(), "Last sync: today at 8:41\u202Fam");  // CLDR's space before "am" in US English
  clock.set(clock.now() + std::chrono::hours(15));              // the next day
  dispatcher.tickTimersFor(std::chrono::seconds(60));           // the status refresh timer
  deliver();
  EXPECT_EQ(statusLine(), "Last sync: yesterday at 8:41\u202Fam");
  // Seen without opening the menu (the tool tip shows the narrow space as a space).
  EXPECT_EQ(shownText(statusItem->trayIcon().toolTip()), "Quillory Helper\nLast sync: yesterday at 8:41 am");
}

// Without a script launcher (Linux) the status line says why from the first
// check on instead of waiting for Kettle Ledger, a sync fails with those
// words (and the log says which run), and a launcher that appears ends it.
// While a sync runs, the indicator takes the icon's place, "Sync Now" waits
// and the status line says so over an error or a notice.
TEST_F(ShellTest, WithoutAScriptLauncherTheStatusLineSaysWhereKettleLedgerRuns) {
  const std::string notice =
      "Kettle Ledger runs on macOS \u2014 see `man quillory-helper` to try the simulated one";
  scripts.setLauncherMissing(true);
  launch();
  runSync();  // the first check
  EXPECT_EQ(statusLine(), notice);
  for (int run = 0; run < 2; ++run) {
    choose(item(kSyncNowTitle));
    deliver();
    EXPECT_TRUE(statusItem->isIndicatorAnimating() && !statusItem->isIconShown());
    EXPECT_EQ(std::pair(statusLine(), item(kSyncNowTitle).isEnabled()),
              std::pair(std::string("Syncing\u2026"), false));
    dispatcher.runGlobalTasks();
    if (run == 1) break;
    deliver();
    EXPECT_TRUE(!statusItem->isIndicatorAnimating() && statusItem->isIconShown());
    EXPECT_EQ(std::pair(statusLine(), item(kSyncNowTitle).isEnabled()), std::pair("\u26A0 " + notice, true));
    EXPECT_TRUE(log.contains("\u2717 Export failed (manual): noScriptLauncher"));
    scripts.setLauncherMissing(false);
  }
  manager->periodicCheck();
  deliver();
  EXPECT_EQ(statusLine(), "\u26A0 Kettle Ledger did not respond");  // the host test's turn
}

// Automatic runs that fail are told once per kind of failure, at most once
// per ten minutes; a run the user started is told by its own alert. The icon
// is marked while the last run failed.
TEST_F(ShellTest, FailedAutomaticSyncsMarkTheIconAndAreNotifiedOncePerKind) {
  // The run's reason, the export script's answer, the minutes since the last run, the notifications so far.
  using Step = std::tuple<const char*, const char*, int, std::size_t>;
  const char* kEmpty = R"({"items":[]})";
  const Step steps[] = {
      {"idle 3 min", kEmpty, 0, 1}, {"idle 3 min", kEmpty, 3, 1}, {"idle 3 min", kEmpty, 3, 1},
      {"idle 3 min", kEmpty, 3, 1}, {"idle 3 min", kEmpty, 3, 1},  // five failed idle runs: one
      {"idle 3 min", "{", 0, 2},                                   // another kind, 12 minutes after the first
      {"manual", kEmpty, 11, 2},                                   // the user started it
      {"idle 3 min", kEmpty, 0, 2},                                // known from the manual run
      {"idle 3 min", kGood, 0, 2},  {"idle 3 min", kEmpty, 1, 3},  // again after a success
      {"idle 3 min", "{", 1, 3},                                   // within ten minutes of the last
      {"idle 3 min", "{", 10, 4},
  };
  launch();
  defaults.setBool(libraries::syncLibraryKey("Biz"), true);
  hostShows("Biz");
  for (const auto& [reason, exported, minutesLater, notified] : steps) {
    clock.advance(std::chrono::minutes(minutesLater));
    scripts.setAnswer(std::string(bridge::kExportScript), exported);
    manager->sync(reason);
    runSync();
    ASSERT_EQ(desktop.sent.size(), notified) << reason << " " << exported;
    EXPECT_EQ(statusItem->isErrorShown(), exported != kGood);
  }
  EXPECT_EQ(desktop.sent.front().first + " / " + desktop.sent.front().second,
            "Quillory Helper could not sync 'Biz' / Library is empty");
  EXPECT_EQ(desktop.sent.at(1).second, "Could not parse export");
}

TEST_F(ShellTest, EveryMenuCommandIsIgnoredWhileAnAlertIsOpen) {
  // Trays that deliver clicks over D-Bus reach the actions past Qt's modal
  // blocking: here, every item is chosen while the first-sync question is open.
  launch();
  defaults.setBool(libraries::syncLibraryKey("Old"), true);
  hostShows("New");
  int opened = 0;
  alerts.setWhileOpen([this, &opened](const Alert&) {
    if (opened++ > 0) return;  // a nested alert (the fault) must not recurse
    for (QMenu* shown : {&qmenu(), item(kLibrariesTitle).action()->menu()})
      for (QAction* each : shown->actions()) each->trigger();
  });
  alerts.queueAnswer(1);  // the user's own answer, "Don't Sync", comes after
  manager->sync("idle 3 min");

  ASSERT_EQ(alerts.shown().size(), 1u);
  EXPECT_FALSE(alerts.shown()[0].causedByUser);  // it must not take the keyboard
  EXPECT_TRUE(manager->autoSyncEnabled());
  EXPECT_EQ(std::pair(loginItems.registers(), terminated), std::pair(std::size_t{0}, 0));
}

// Run from the copy App Translocation made: the status line asks for the
// move (a sync's own lines still come first) and no login item is registered.
TEST_F(ShellTest, ATranslocatedCopyAsksToBeMovedAndRegistersNoLoginItem) {
  runsTranslocated = true;
  launch();
  refresh();
  EXPECT_EQ(statusLine(), kMoveToApplicationsTitle);
  choose(item(kLaunchAtLoginTitle));
  EXPECT_EQ(loginItems.registers(), 0u);
  EXPECT_FALSE(item(kLaunchAtLoginTitle).isChecked());
  manager->sync("manual");
  deliver();
  EXPECT_EQ(statusLine(), "Syncing\u2026");
}

// A switch-off or switch-on whose answer cannot be stored changes nothing:
// the check mark and the files stay, and the status line says why.
TEST_F(ShellTest, AnAnswerThatCannotBeStoredChangesNothingAndSaysWhy) {
  launch();
  for (const bool on : {true, false}) defaults.setBool(libraries::syncLibraryKey(on ? "On" : "Off"), on);
  publishMarker("On", "on-eur", "2026-12-05T08:00:00Z");
  refresh();
  defaults.refuseWrites("Read-only file system");
  alerts.queueAnswer(0);  // "Remove"
  for (const int item : {1, 0}) choose(library(item));
  runSync();  // the menu's changes run on the background queue
  EXPECT_TRUE(library(1).isChecked() && !library(0).isChecked());
  EXPECT_TRUE(files::exists(home / documents() / "on-eur.json"));
  EXPECT_TRUE(log.contains("[Helper] \u2717 Could not switch off 'On': Read-only file system"));
  EXPECT_EQ(statusLine(), "\u26A0 Could not switch on 'Off': Read-only file system");
  // The user who chose "Remove" is told at once, and the warning outlasts a
  // later sync until the switch-off is stored.
  ASSERT_EQ(alerts.shown().size(), 2u);
  EXPECT_EQ(alerts.shown()[1].message, "\"On\" was not removed from mobile devices");
  hostShows("On");
  scripts.setAnswer(std::string(bridge::kExportScript), kGood);
  manager->sync("manual");
  deliver();
  EXPECT_EQ(statusLine(), "Syncing\u2026");  // over the warning
  runSync();                                 // a sync that succeeds
  EXPECT_EQ(statusLine(), "\u26A0 Could not switch off 'On': Read-only file system");
  defaults.refuseWrites(std::nullopt);
  alerts.queueAnswer(0);
  choose(library(1));
  runSync();
  EXPECT_FALSE(statusLine().starts_with("\u26A0") || statusItem->isErrorShown()) << statusLine();
}

// With the settings file's lock held by another process, the commands that
// store (Auto-sync, the first-sync question's answer) come back while it is
// still held, and what they chose is stored once it is free.
TEST_F(ShellTest, TheMenuNeverWaitsForTheSettingsLock) {
  settings = &file.emplace(home / "settings.json", log, clock);
  launch();
  hostShows("New");
  // Another process holds the lock (2: exclusive) for ten seconds, or until it
  // is killed; Perl is there on Debian and macOS alike.
  auto holder = ChildProcess::spawn(
      "/usr/bin/perl", {"-e", "open(F, '>>', shift); flock(F, 2); syswrite(STDOUT, 'held'); sleep 10",
                        (home / "settings.json.lock").string()});
  holder->read(std::chrono::seconds(10), [](std::string_view) {});  // once it holds the lock
  choose(item(kAutoSyncTitle));
  alerts.queueAnswer(0);  // "Sync"
  choose(item(kSyncNowTitle));
  EXPECT_TRUE(holder->isRunning());  // nothing here waited for it
  holder.reset();
  runSync();
  EXPECT_EQ(file->value(engine::kAutoSyncEnabledKey).asBool(), false);
  EXPECT_EQ(file->value(libraries::syncLibraryKey("New")).asBool(), true);
}

TEST_F(ShellTest, LongTextsAreElidedInTheMiddleByCharacters) {
  const std::string sixty(60, 'x');
  std::string han, accents;
  for (int i = 0; i < 60; ++i) han += "\u65E5";        // 60 characters in 180 bytes
  for (int i = 0; i < 100; ++i) accents += "e\u0301";  // 100 letters, each with its mark
  for (const std::string& fits : {sixty, han}) EXPECT_EQ(elidedMenuTitle(fits), fits);
  EXPECT_EQ(elidedMenuTitle("A" + sixty), "A" + std::string(29, 'x') + "\u2026" + std::string(29, 'x'));
  EXPECT_EQ(elidedMenuTitle(accents), accents.substr(0, 30 * 3) + "\u2026" + accents.substr(71 * 3));
  // A long library name: short in titles, whole in tool tips and items.
  const std::string name = "Receipts " + std::string(3000, 'n') + " EUR";
  launch();
  defaults.setBool(libraries::syncLibraryKey(name), true);
  hostShows(name);
  EXPECT_EQ(libraryLine(), "Library: " + elidedMenuTitle(name));
  EXPECT_EQ(menu().items().at(0)->toolTip(), name);
  EXPECT_EQ(std::pair(library(0).title(), library(0).representedObject()),
            std::pair(elidedMenuTitle(name), std::optional(name)));
}

// "Show Published Files" opens the iCloud Drive folder while it exists;
// "Show Log…" opens the helper's log file.
TEST_F(ShellTest, LaunchBuildsTheMenuWithStableActionsThatRunTheCommands) {
  defaults.setBool(engine::kAutoSyncEnabledKey, false);
  loginItems.setStatus(LoginItemStatus::enabled);
  launch();
  EXPECT_EQ(accessoryCalls, 1);
  EXPECT_EQ(texts(qmenu()), (QStringList{"~Kettle Ledger not running", "~Never synced", "---", "Sync Now",
                                         "---", "Libraries", "~Show Published Files", "Show Log\u2026", "---",
                                         "Auto-sync", "+Launch at Login", "---", "~Quillory Helper 1.2 (34)",
                                         "Quit Quillory Helper"}));  // both marks read at launch
  EXPECT_NE(item(kShowPublishedFilesTitle).toolTip().find("does not exist"), std::string::npos);
  EXPECT_EQ(action("Sync Now")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));

  const QList<QAction*> before = qmenu().actions();
  home.makeFolder(documents());
  refresh();
  EXPECT_EQ(qmenu().actions(), before);  // changed in place, not rebuilt
  EXPECT_EQ(texts(*action("Libraries")->menu()), QStringList{"~No libraries seen yet"});
  EXPECT_TRUE(action("Show Published Files")->isEnabled());
  for (const char* opens : {"Show Published Files", "Show Log\u2026"}) action(opens)->trigger();
  EXPECT_EQ(desktop.opened, (std::vector<std::filesystem::path>{home / documents(), home / "helper.log"}));

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

TEST_F(ShellTest, LibrariesAreListedSwitchedOnAtOnceAndOffOnlyAfterRemove) {
  const std::string name = "Tom's \"R&D\" <h1>2026</h1>";
  launch();
  // Stored in an order other than the menu's.
  for (const char* on : {"Zeta", name.c_str()}) defaults.setBool(libraries::syncLibraryKey(on), true);
  defaults.setBool(libraries::syncLibraryKey("Alpha"), false);
  defaults.setString(libraries::syncLibraryKey("Beta"), "not a bool");
  for (const char* off : {"Alpha", "Beta"})  // their folders exist: pruning keeps them
    defaults.setString(libraries::libraryPathKey(off), home.path().string());
  publishMarker(name, "toms-r-d-2026-usd", "2026-12-05T08:00:00Z");
  refresh();
  QMenu* submenu = action("Libraries")->menu();
  const auto shown = [submenu](int i) { return submenu->actions().at(i); };
  // Shown as "R&D", not as a mnemonic, and "<h1>" not as markup; the last two
  // are on.
  EXPECT_EQ(texts(*submenu), (QStringList{"Alpha", "Beta", "+Tom's \"R&&D\" <h1>2026</h1>", "+Zeta"}));
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
  // The status refresh timer refreshes the submenu while it may be open: the
  // same libraries keep their items (and the highlight on them); a change of
  // the list keeps the highlight on the same library.
  const std::weak_ptr<MenuItem> beta = libraries().items().at(1);
  libraries().highlight(beta.lock());
  defaults.setBool(libraries::syncLibraryKey("Beta"), true);
  refresh();
  ASSERT_FALSE(beta.expired());  // not rebuilt
  EXPECT_TRUE(beta.lock()->isChecked());
  defaults.setBool(libraries::syncLibraryKey("Aardvark"), true);
  refresh();
  EXPECT_EQ(libraries().highlightedItem(), libraries().items().at(2));
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
  const auto inSubmenu = std::dynamic_pointer_cast<QtMenuItem>(
      menu.addItem("Libraries", "", nullptr)->makeSubmenu()->addItem(name, "", nullptr));
  EXPECT_EQ(item->action()->text(), "Smith_Jones && Co &&&& Sons");
  menu.setDBusLabels(true);
  for (const auto& shown : {item, inSubmenu})
    EXPECT_EQ(shown->action()->text(), "Smith__Jones && Co && Sons");
  EXPECT_EQ(item->title(), name);
}

TEST(StatusIcon, TemplateIsAMaskFilledIsNotAndEachImageIsMadeOnce) {
  // The error variants: the same kind of image (the resource's three sizes),
  // with the badge at the lower right (red when filled; a template's stays
  // black and clear).
  for (const IconStyle style : {IconStyle::templateMask, IconStyle::filled}) {
    const QIcon error = statusIcon(style, true);
    for (const QIcon& icon : {statusIcon(style), error})
      EXPECT_EQ(std::pair(icon.isMask(), icon.availableSizes().size()),
                std::pair(style == IconStyle::templateMask, qsizetype{3}));
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
  // The tray caches a scaled copy of every image it is given by the image's
  // identity: an image made anew for each frame or each sync grows the process.
  item.setIconShown(false);
  std::vector<qint64> shown;
  for (const bool animating : {false, true, false, true}) {
    item.setIndicatorAnimating(animating);
    shown.push_back(item.trayIcon().icon().cacheKey());
  }
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
  if (QGuiApplication::platformName() != QLatin1String("xcb") || xdotool.empty() || xev.empty())
    GTEST_SKIP() << "needs an X desktop, xdotool and xev";
  const auto run = [&xdotool](const std::vector<std::string>& arguments) {
    std::string output;
    ChildProcess::spawn(xdotool, arguments)->readOutput(output);  // reaped when its object goes
    return output;
  };
  // The name of the window that has the keyboard.
  const auto focus = [&run] { return run({"getwindowfocus", "getwindowname"}); };
  auto typing = ChildProcess::spawn(xev, {"-name", "typing"});
  ASSERT_TRUE(pumpUntil([&] { return focus() == "typing\n"; }, 20000))
      << "the window manager gave it no keyboard";
  testing::ManualDispatcher dispatcher;
  QtAlertPresenter alerts(dispatcher);
  std::vector<bool> openChanges;
  alerts.setOpenChanged([&](bool open) { openChanges.push_back(open); });
  for (const bool causedByUser : {false, true}) {
    std::string focused;
    alerts.setAboutToShow([&](QMessageBox& box) {
      if (!causedByUser) {
        QTimer::singleShot(500, &box, [&] {
          focused = focus();
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
        focused = focus();
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
