#pragma once
// The application delegate on the shared fakes around a real ExportManager,
// with a temporary home folder. The test's thread is the main thread. Global
// tasks are only recorded (queued mode), so a started sync stays "running"
// until the test runs them with `dispatcher.runGlobalTasks()`.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/AppDelegate.h"
#include "bridge/HostScripts.h"
#include "engine/ExportManager.h"
#include "libraries/LibraryKeys.h"
#include "publish/ContainerPaths.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/FakeDesktop.h"
#include "support/FakeLoginItemService.h"
#include "support/FakeMenu.h"
#include "support/FakeScriptRunner.h"
#include "support/FakeWorkspace.h"
#include "support/ManualDispatcher.h"
#include "support/MemoryDefaults.h"
#include "support/ScriptedAlerts.h"
#include "support/TempHome.h"

namespace quillory::app::test {

class ShellTest : public ::testing::Test {
 protected:
  void TearDown() override {
    delegate.reset();
    manager.reset();
    dispatcher.runMainUntilIdle();
  }

  // Creates the manager and the delegate and finishes launching.
  void launch() {
    manager = engine::ExportManager::create(
        engine::Environment{*settings, dispatcher, clock, log, workspace, alerts, scripts, home.path()});
    Shell shell{
        .makeStatusItem = [this] { return makeStatusItem(); },
        .dispatcher = dispatcher,
        .alerts = alerts,
        .loginItems = loginItems,
        .log = log,
        .clock = clock,
        .dateText = {"en_US", "UTC"},
        .version = {"1.2", "34"},
        .becomeAccessory = [this] { ++accessoryCalls; },
        .terminate = [this] { ++terminated; },
        .runsTranslocated = runsTranslocated,
        .notifier = &notifier,
        .desktop = &desktop,
        .logFile = home / "helper.log",
    };
    delegate = AppDelegate::create(std::move(shell), manager);
    delegate->applicationDidFinishLaunching();
  }

  // The status item the delegate is given: a fake one here.
  virtual std::unique_ptr<platform::StatusItem> makeStatusItem() {
    auto item = std::make_unique<testing::FakeStatusItem>();
    statusItem = item.get();
    return item;
  }

  testing::FakeMenu& menu() { return *statusItem->fakeMenu(); }
  testing::FakeMenu& libraries() { return *menu().item(kLibrariesTitle).fakeSubmenu(); }
  std::string libraryLine() { return menu().at(0).title(); }
  std::string statusLine() { return menu().at(1).title(); }
  // Delivers the status notifications queued so far (and the refreshes they
  // queue).
  void deliver() { dispatcher.runMainUntilIdle(); }
  void refresh() {
    manager->notifyStatusChanged();
    deliver();
  }

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
  platform::Defaults* settings = &defaults;  // the manager's
  testing::ManualDispatcher dispatcher{testing::ManualDispatcher::GlobalMode::queued};
  testing::FakeClock clock;  // 2026-12-05T09:00:00Z
  testing::CapturingLog log;
  testing::FakeWorkspace workspace;
  testing::ScriptedAlerts alerts{&dispatcher};
  testing::FakeScriptRunner scripts;
  testing::FakeLoginItemService loginItems;
  testing::FakeNotifier notifier;
  testing::FakeDesktopServices desktop;
  testing::TempHome home;
  testing::FakeStatusItem* statusItem = nullptr;  // owned by the delegate
  bool runsTranslocated = false;                  // set before `launch`
  int accessoryCalls = 0;
  int terminated = 0;
  std::shared_ptr<engine::ExportManager> manager;
  std::shared_ptr<AppDelegate> delegate;
};

}  // namespace quillory::app::test
