// A host that misbehaves while it answers the export script: it dies in the
// middle of its output, prints bytes that are not UTF-8, or never ends and
// ignores the termination request. Each sync fails with its error, touches no
// published file, leaves no process behind, and the next sync succeeds.

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "faults/FaultFixture.h"
#include "platform/Files.h"

namespace quillory::faults::test {
namespace {

struct HostFault {
  const char* name;
  HostExport behaviour;
  const char* error;      // lastError
  const char* caseName;   // in the failure line
  const char* extraLine;  // another line expected, or null
  friend void PrintTo(const HostFault& c, std::ostream* os) { *os << c.name; }
};

class HostScriptFaultTest : public FaultTest, public ::testing::WithParamInterface<HostFault> {};

const HostFault kFaults[] = {
    {"DiesMidOutput", HostExport::diesMidway, "Could not parse export", "parseFailure", nullptr},
    {"PrintsInvalidUtf8", HostExport::invalidUtf8, "Kettle Ledger did not respond", "klNotResponding",
     nullptr},
    {"NeverEndsAndIgnoresTerm", HostExport::neverEnds, "Kettle Ledger did not respond", "klNotResponding",
     "[Helper] \u26A0 JXA timed out after 90s \u2014 check System Settings \u203A Privacy & Security \u203A "
     "Automation"},
};

// Whether any process, a zombie included, is still in process group `group`.
bool groupExists(pid_t group) { return ::kill(-group, 0) == 0 || errno != ESRCH; }

TEST_P(HostScriptFaultTest, FailsTheSyncAndIsRecoveredFrom) {
  const HostFault& fault = GetParam();
  settleLibrary();
  ASSERT_EQ(syncNow(), std::nullopt);
  const auto document = platform::files::readFile(documents() / kDocument);
  const auto marker = platform::files::readFile(documents() / kMarker);
  const auto recordedFile = defaults->value("library_filename_Biz");
  ASSERT_TRUE(document && marker);

  setHostExport(fault.behaviour);
  // The export's 90-second limit, 30 times faster.
  if (fault.behaviour == HostExport::neverEnds) clock.setSpeed(30);
  log.clear();
  EXPECT_EQ(syncNow(), std::optional<std::string>(fault.error));
  clock.setSpeed(1);

  EXPECT_EQ(statusLine(), std::string("\u26A0 ") + fault.error);
  EXPECT_TRUE(log.contains(std::string("[Helper] \u2717 Export failed (manual): ") + fault.caseName));
  EXPECT_TRUE(fault.extraLine == nullptr || log.contains(fault.extraLine)) << fault.extraLine;
  EXPECT_EQ(platform::files::readFile(documents() / kDocument), document);
  EXPECT_EQ(platform::files::readFile(documents() / kMarker), marker);
  EXPECT_EQ(defaults->value("library_filename_Biz"), recordedFile);
  expectNoPartialFiles();

  if (fault.behaviour == HostExport::neverEnds) {
    // The script and its children are killed after the grace period and reaped.
    const auto pid = platform::files::readFile(hostState / "pid");
    ASSERT_TRUE(pid);
    const pid_t group = static_cast<pid_t>(std::stol(*pid));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (groupExists(group) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(groupExists(group)) << "the script that ignored TERM is still there";
  }

  setHostExport(HostExport::good);
  expectNextSyncSucceeds();
}

INSTANTIATE_TEST_SUITE_P(Faults, HostScriptFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The library-name script printing bytes that are not UTF-8 counts as no
// answer: no library, nothing published or asked, and a good answer later
// settles the library as usual.
TEST_F(FaultTest, NameScriptPrintingInvalidUtf8MeansNoLibrary) {
  std::ofstream(hostState / "name.txt", std::ios::trunc) << "Bi\xffz\n";
  manager->periodicCheck();
  manager->periodicCheck();
  EXPECT_EQ(manager->currentLibraryName(), std::nullopt);
  EXPECT_EQ(alerts->count(), 0u);

  std::ofstream(hostState / "name.txt", std::ios::trunc) << "Biz\n";
  settleLibrary();
  expectNextSyncSucceeds();
}

}  // namespace
}  // namespace quillory::faults::test
