// The engine on the real POSIX pieces: the run-loop dispatcher, the property
// list settings file in a temporary home, the system clock and the script
// runner over a real child process. The host's script launcher is stood in
// for by a small shell script that answers the two script texts.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "bridge/HostScripts.h"
#include "bridge/OsascriptRunner.h"
#include "engine/ExportManager.h"
#include "platform/posix/PlistDefaults.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "platform/posix/SystemClock.h"
#include "support/CapturingLog.h"
#include "support/FakeWorkspace.h"
#include "support/ScriptedAlerts.h"
#include "support/TempHome.h"

namespace quillory::engine::test {
namespace {

namespace fs = std::filesystem;

// Prints the library name or the export when its fourth argument is exactly
// the corresponding script text; fails otherwise.
constexpr const char* kStandIn = R"sh(#!/bin/sh
here=$(dirname "$0")
[ "$1" = "-l" ] && [ "$2" = "JavaScript" ] && [ "$3" = "-e" ] || exit 2
if [ "$4" = "$(cat "$here/name-script.txt")" ]; then
  printf '  Biz\n'
elif [ "$4" = "$(cat "$here/export-script.txt")" ]; then
  cat "$here/export.json"
else
  exit 1
fi
)sh";

constexpr const char* kExport =
    R"({"version":3,"items":[{"id":"1","title":"Lunch","asset":{"path":"/nonexistent/Biz/assets/a.jpg"},)"
    R"("amounts":{"currency":"eur","value":12.5},"private":"x"}]})";

const fs::path kDocs = "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents";

TEST(EngineEndToEnd, FromEmptySettingsASyncAsksPublishesRecordsAndDeletionRemovesThePair) {
  testing::TempHome home;
  const fs::path tools = home.makeFolder("tools");
  home.writeFile("tools/name-script.txt", bridge::kLibraryNameScript);
  home.writeFile("tools/export-script.txt", bridge::kExportScript);
  home.writeFile("tools/export.json", kExport);
  const fs::path standIn = home.writeFile("tools/osascript", kStandIn);
  ASSERT_EQ(::chmod(standIn.c_str(), 0755), 0);

  platform::posix::RunLoopDispatcher dispatcher;
  dispatcher.repeatOnMain(0.02, [] {});  // re-tests runUntil's condition regularly
  platform::posix::SystemClock clock;
  testing::CapturingLog log;
  const fs::path settingsFile = platform::posix::defaultsFileFor(home.path(), std::nullopt);
  auto defaults = std::make_unique<platform::posix::PlistDefaults>(settingsFile, log, clock);
  testing::FakeWorkspace workspace;
  workspace.launch(ExportManager::klBundleID);
  testing::ScriptedAlerts alerts(&dispatcher, /*defaultAnswer=*/0);
  bridge::OsascriptRunner runner(dispatcher, clock, log, standIn.string());

  auto manager = ExportManager::create(
      Environment{*defaults, dispatcher, clock, log, workspace, alerts, runner, home.path()});

  // The first check shows the library, a second one settles it.
  manager->startMonitoring();
  ASSERT_TRUE(dispatcher.runUntil([&] { return manager->state().pendingLibraryName == "Biz"; }, 20));
  manager->scheduleCheck();
  ASSERT_TRUE(dispatcher.runUntil([&] { return manager->state().confirmedLibraryName == "Biz"; }, 20));

  // "Sync Now": asks, then publishes on the user-initiated queue.
  manager->sync("manual");
  ASSERT_TRUE(dispatcher.runUntil([&] { return !manager->isSyncing() && log.contains("Export"); }, 30));
  EXPECT_TRUE(log.contains("[Helper] \u2713 Export OK (manual) \u2192 1 destination(s)"))
      << ::testing::PrintToString(log.lines());
  ASSERT_EQ(alerts.count(), 1u);
  EXPECT_EQ(alerts.shown()[0].message, "Sync \"Biz\" with Quillory?");

  const fs::path document = home / kDocs / "biz-eur.json";
  const fs::path marker = home / kDocs / "biz-eur_updated.txt";
  EXPECT_TRUE(fs::exists(document));
  EXPECT_TRUE(fs::exists(marker));
  EXPECT_TRUE(manager->currentLibrarySyncDate());

  // Everything that was recorded is in the settings file: read it afresh.
  const std::optional<platform::Date> lastSync = manager->lastSyncDate();
  manager.reset();
  defaults.reset();
  {
    platform::posix::PlistDefaults reread(settingsFile, log, clock);
    EXPECT_EQ(reread.value("autoSyncEnabled").asBool(), true);
    EXPECT_EQ(reread.value("sync_library_Biz").asBool(), true);
    EXPECT_EQ(reread.value("library_filename_Biz").asString(), "biz-eur.json");
    EXPECT_EQ(reread.value("library_path_Biz").asString(), "/nonexistent/Biz");
    EXPECT_TRUE(reread.value("lastSyncDate").asDate());

    // Switching the library off deletes its pair (the menu stores false first).
    auto restarted = ExportManager::create(
        Environment{reread, dispatcher, clock, log, workspace, alerts, runner, home.path()});
    EXPECT_EQ(restarted->lastSyncDate(), lastSync);  // the same instant in memory as in the store
    EXPECT_TRUE(restarted->switchOffLibrary("Biz"));
    EXPECT_FALSE(fs::exists(document));
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_TRUE(log.contains("[Helper] Deleted iCloud files: biz-eur.json, biz-eur_updated.txt"));
    EXPECT_EQ(reread.value("sync_library_Biz").asBool(), false);
  }
}

}  // namespace
}  // namespace quillory::engine::test
