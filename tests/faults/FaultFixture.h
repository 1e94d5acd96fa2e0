#pragma once
// The engine as the application runs it, for injecting faults: the run-loop
// dispatcher (the test's thread is its main thread), the real script runner
// over a stand-in script launcher (a shell script the test rewrites), the
// property-list settings file in a temporary home folder, and real files.
// Only the desktop (a fake workspace with Kettle Ledger running), the alerts
// (always the first button) and the clock (real time, or faster for the
// time-limit cases) are stand-ins.
//
// Faults are made with the file system itself (files where folders are
// expected and the other way round, a small tmpfs or a file size limit), so
// they also happen when the tests run as root.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "bridge/OsascriptRunner.h"
#include "engine/ExportManager.h"
#include "platform/Clock.h"
#include "platform/posix/PlistDefaults.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "support/CapturingLog.h"
#include "support/FakeWorkspace.h"
#include "support/ScriptedAlerts.h"
#include "support/TempHome.h"

namespace quillory::faults::test {

namespace fs = std::filesystem;

// Real time, optionally running faster: with speed 30 the export script's
// 90-second limit passes in 3 seconds. Changing the speed never moves the
// time backwards.
class AdjustableClock final : public platform::Clock {
 public:
  platform::Date now() const override;
  void sleepFor(double seconds) override;
  void setSpeed(double speed);

 private:
  mutable std::mutex mutex_;
  double speed_ = 1;
  platform::Date base_ = std::chrono::system_clock::now();
  std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
};

// What the stand-in host does when asked for its export (setHostExport
// indexes its scripts by this order).
enum class HostExport {
  good,         // prints the export
  large,        // prints an export of about 300 KB
  diesMidway,   // prints the first part of the export and is killed
  invalidUtf8,  // prints an export with bytes that are not UTF-8
  neverEnds,    // prints a little, ignores the termination request, never ends
};

class FaultTest : public ::testing::Test {
 protected:
  static constexpr const char* kLibrary = "Biz";
  static constexpr const char* kDocument = "biz-eur.json";
  static constexpr const char* kMarker = "biz-eur_updated.txt";

  void SetUp() override;
  void TearDown() override;

  // Makes the manager (a second call makes a new one over the same files,
  // as a relaunch does) with auto-sync off, so only the test starts syncs.
  void launch();
  void quit();

  void setHostExport(HostExport behaviour);
  // Two checks: the host's library name settles.
  void settleLibrary();
  // "Sync Now", then the loop runs until the sync has ended. Returns lastError.
  std::optional<std::string> syncNow();
  // The status line the menu would show for the current state.
  std::string statusLine() const;

  fs::path documents() const;     // the container Documents folder
  fs::path appDocuments() const;  // an app container's Documents folder
  // Adds a local app container (and counts its preferences file as the
  // test's own, not as something the helper wrote).
  void addAppContainer();

  // Every .json in the destination folders is a complete JSON object, every
  // marker a timestamp, and no temporary file is left.
  void expectNoPartialFiles() const;
  // Files and folders outside the helper's folders, for comparing before and
  // after (the host's own folders count as outside and must not change).
  std::set<std::string> outsideTheFolders() const;
  // The next sync after the fault is removed succeeds.
  void expectNextSyncSucceeds(int destinations = 1);

  testing::TempHome home;
  testing::CapturingLog log;
  AdjustableClock clock;
  std::unique_ptr<platform::posix::PlistDefaults> defaults;
  testing::FakeWorkspace workspace;
  std::unique_ptr<platform::posix::RunLoopDispatcher> dispatcher;
  std::unique_ptr<testing::ScriptedAlerts> alerts;
  std::unique_ptr<bridge::OsascriptRunner> runner;
  std::shared_ptr<engine::ExportManager> manager;

  fs::path host;           // the stand-in script launcher
  fs::path hostState;      // its files
  fs::path libraryFolder;  // the library's folder on disk
  fs::path settingsFile;
  std::set<std::string> outsideBefore;
};

}  // namespace quillory::faults::test
