#pragma once
// A manager on the shared fakes, with a temporary home folder. The test's own
// thread is the main thread; global tasks run on real threads and `settle`
// joins them while pumping the main queue. Members are public so that case
// tables can prepare the fixture.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "bridge/HostScripts.h"
#include "engine/ExportManager.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
#include "support/FakeScriptRunner.h"
#include "support/FakeWorkspace.h"
#include "support/ManualDispatcher.h"
#include "support/MemoryDefaults.h"
#include "support/ScriptedAlerts.h"
#include "support/TempHome.h"

namespace quillory::engine::test {

// One item under /nonexistent/Biz, amounts in euros: published as "biz-eur"
// when the confirmed name is "Biz".
inline constexpr const char* kExportJson =
    R"({"items":[{"id":"1","title":"Lunch","asset":{"path":"/nonexistent/Biz/assets/a.jpg"},)"
    R"("amounts":{"currency":"eur"},"dropped":true}]})";
inline const std::string kNameScript{bridge::kLibraryNameScript}, kHost{ExportManager::klBundleID},
    kExportScript{bridge::kExportScript};

class EngineTest : public ::testing::Test {
 public:
  EngineTest() { scripts.setAnswer(kExportScript, kExportJson); }  // unless a test answers otherwise
  void TearDown() override { dispatcher.drain(); }

  // The manager, made at first use; its status hook counts its calls.
  ExportManager& engine() {
    if (!manager) {
      manager = ExportManager::create(Environment{defaults, dispatcher, clock, log, workspace, alerts,
                                                  scripts, home.path(), automation, warnWhenICloudDriveOff});
      manager->setOnStatusChanged([this] { ++notifications; });
    }
    return *manager;
  }

  // Runs one check on this thread with the name script answering `reported`.
  void checkReporting(const std::string& reported) {
    scripts.queueAnswer(kNameScript, reported);
    engine().periodicCheck();
  }
  // Makes `name` the settled current library of a running host (two checks).
  void settleLibrary(const std::string& name) {
    workspace.launch(kHost);
    for (int check = 0; check < 2; ++check) checkReporting(name);
    settle();
  }
  // `name` settled, switched on, and reported by every later check.
  void openEnabled(const std::string& name) {
    settleLibrary(name);
    scripts.setAnswer(kNameScript, name);
    defaults.setBool("sync_library_" + name, true);
  }
  // Joins the global tasks while pumping the main queue.
  void settle() { ASSERT_TRUE(dispatcher.drain()); }
  // A sync for `reason`, run to its end.
  void syncNow(const char* reason = "manual") { engine().sync(reason), settle(); }
  // Notifications delivered since the last call.
  int takeNotifications() { return settle(), std::exchange(notifications, 0); }

  bool warnWhenICloudDriveOff = false;  // as on Linux; set before the first `engine()`
  testing::MemoryDefaults defaults;
  testing::ManualDispatcher dispatcher;
  testing::FakeClock clock;
  testing::CapturingLog log;
  testing::FakeWorkspace workspace;
  testing::ScriptedAlerts alerts{&dispatcher};
  testing::FakeScriptRunner scripts;
  testing::TempHome home;
  platform::AutomationPermission* automation = nullptr;  // none: always granted
  int notifications = 0;                                 // main thread only
  std::shared_ptr<ExportManager> manager;
};

}  // namespace quillory::engine::test
