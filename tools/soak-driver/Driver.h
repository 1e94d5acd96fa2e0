#pragma once
// The soak: the helper's engine as the application runs it, for a long time,
// against the simulated Kettle Ledger, with the clock sped up (see
// SoakDriver.cpp's header for what it does and checks).

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "HostLibraries.h"
#include "MirrorReader.h"
#include "Options.h"
#include "SoakFigures.h"
#include "SoakLog.h"
#include "bridge/OsascriptRunner.h"
#include "engine/ExportManager.h"
#include "platform/posix/JsonDefaults.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "support/FakeClock.h"
#include "support/FakeWorkspace.h"
#include "support/ScriptedAlerts.h"

namespace quillory::soak {

using Steady = std::chrono::steady_clock;

// What the driver did, as a user would (main thread).
struct Counters {
  long ticks = 0;
  long syncRequests = 0;
  long switches = 0;
  long quits = 0;
  long relaunches = 0;
  long activations = 0;
  long disables = 0;
  long enables = 0;
  long foldersRemoved = 0;
  long foldersRestored = 0;
  long checksScheduled = 0;
  long statusRefreshes = 0;
  long refreshesWithDate = 0;
};

class Driver {
 public:
  explicit Driver(Options options) : options_(std::move(options)), random_(options_.seed) {}

  // The whole soak; 0 when it passed, 1 when not.
  int run();

 private:
  void setUp();
  // One step of the user: on a timer, a random action (UserActions.cpp).
  void tick();
  void switchLibrary(std::size_t index);
  void launchHost();
  void quitHost();
  bool hostRunning() const;
  void refresh();  // the status hook: what refreshMenu reads
  // Waits for a quiet moment (no sync, no task on a worker, no worker beyond the kept ones) and takes the
  // figures.
  SoakFigures quietFigures(const char* when);
  // At the end: each library in turn until one syncs; counts those refused
  // by a name conflict.
  bool lastSyncSucceeds(long& librariesInConflict);
  std::vector<std::filesystem::path> helperFolders() const;

  Options options_;
  std::mt19937 random_;
  std::filesystem::path home_;
  std::filesystem::path simState_;
  std::vector<HostLibrary> libraries_;
  std::size_t current_ = 0;
  std::map<std::string, Steady::time_point> removedFolders_;  // name → when to restore
  std::set<std::string> outsideAtStart_;

  std::unique_ptr<testing::FakeClock> clock_;
  std::unique_ptr<SoakLog> log_;
  std::unique_ptr<platform::posix::JsonDefaults> defaults_;
  std::unique_ptr<platform::posix::RunLoopDispatcher> dispatcher_;
  testing::FakeWorkspace workspace_;
  std::unique_ptr<testing::ScriptedAlerts> alerts_;
  std::unique_ptr<bridge::OsascriptRunner> scripts_;
  std::shared_ptr<engine::ExportManager> manager_;
  std::unique_ptr<MirrorReader> reader_;
  Counters counters_;  // main thread
  bool paused_ = false;
};

}  // namespace quillory::soak
