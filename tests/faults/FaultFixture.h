#pragma once
// The engine as the application runs it, for injecting faults: the run-loop
// dispatcher (the test's thread is its main thread), the real script runner
// over the simulated Kettle Ledger (tools/kettle-ledger-sim, answering from a
// state folder the test rewrites), the property-list settings file in a
// temporary home folder, and real files. Only the desktop (a fake workspace
// with Kettle Ledger running), the alerts (always the first button) and the
// clock (real time, or faster for the time-limit cases) are stand-ins.
//
// Faults are made with the file system itself (files where folders are
// expected and the other way round, a small tmpfs or a file size limit), so
// they also happen when the tests run as root.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "bridge/OsascriptRunner.h"
#include "engine/ExportManager.h"
#include "platform/posix/PlistDefaults.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "support/CapturingLog.h"
#include "support/FakeWorkspace.h"
#include "support/FastClock.h"
#include "support/ScriptedAlerts.h"
#include "support/TempHome.h"

namespace quillory::faults::test {

namespace fs = std::filesystem;

// Public, so that the tables of faults can act on it.
class FaultTest : public ::testing::Test {
 public:
  static constexpr const char* kDocument = "biz-eur.json";
  static constexpr const char* kMarker = "biz-eur_updated.txt";

  void SetUp() override;
  void TearDown() override;

  // Makes the manager (a second call makes a new one over the same files,
  // as a relaunch does) with auto-sync off, so only the test starts syncs.
  void launch();
  void quit();

  // Writes a file of the simulated host's state folder ("export.json",
  // "name.txt", "cut.txt"; see the simulator's header).
  void setHost(const std::string& file, const std::string& text);
  // An export of about 300 KB, and the usual small one.
  void setLargeExport(bool large);
  // Two checks: the host's library name settles.
  void settleLibrary();
  // "Sync Now", then the loop runs until the sync has ended. Returns lastError.
  std::optional<std::string> syncNow();
  // The menu's status line for the current state ("..." for a relative date).
  std::string statusLine() const;

  fs::path documents() const;     // the container Documents folder
  fs::path appDocuments() const;  // an app container's Documents folder
  // Adds a local app container (its preferences file is the test's own).
  void addAppContainer();

  // Every .json in the destination folders is a complete document, every
  // marker a timestamp, and no temporary file is left.
  void expectNoPartialFiles() const;
  // Files and folders outside the helper's folders.
  std::set<std::string> outsideTheFolders() const;
  // The next sync succeeds, and a fresh store over the settings file sees
  // the library's records.
  void expectNextSyncSucceeds(int destinations = 1);

  testing::TempHome home;
  testing::TempHome host;  // the simulator's state folder
  testing::CapturingLog log;
  testing::FastClock clock;
  std::unique_ptr<platform::posix::PlistDefaults> defaults;
  testing::FakeWorkspace workspace;
  std::unique_ptr<platform::posix::RunLoopDispatcher> dispatcher;
  std::unique_ptr<testing::ScriptedAlerts> alerts;
  std::unique_ptr<bridge::OsascriptRunner> runner;
  std::shared_ptr<engine::ExportManager> manager;

  fs::path libraryFolder;  // the library's folder on disk
  fs::path settingsFile;
  std::set<std::string> outsideBefore;
};

}  // namespace quillory::faults::test
