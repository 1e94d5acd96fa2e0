// What a signal does to a pair being published. (What a failing write
// leaves: tests/faults; the names and bytes published: DocumentTransformTests
// and tests/promises.)

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "platform/Files.h"
#include "platform/posix/ExitCleanup.h"
#include "publish/Destinations.h"
#include "support/CapturingLog.h"
#include "support/TempHome.h"

#if defined(QUILLORY_WRAPPED_RENAME)
// This binary is linked with rename wrapped: `beforeMarkerRename`, when set,
// runs before a marker is renamed into place.
namespace {
std::function<void()> beforeMarkerRename;
}
extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __wrap_rename(const char* from, const char* to) {
  if (beforeMarkerRename && std::string_view(to).ends_with("_updated.txt")) beforeMarkerRename();
  return __real_rename(from, to);
}

namespace quillory::publish {
namespace {

namespace files = platform::files;
using ::testing::UnorderedElementsAre;

// A termination signal between a pair's two renames ends the process only
// once the pair is whole, with no temporary file left.
TEST(Destinations, ASignalBetweenAPairsTwoRenamesEndsTheProcessOnceThePairIsWhole) {
  using namespace std::chrono_literals;
  namespace exitcleanup = platform::posix::exitcleanup;
  testing::TempHome home;
  const std::filesystem::path documents = "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents";
  home.writeFile(documents / "business-eur.json", "old");
  home.writeFile(documents / "business-eur_updated.txt", "old");
  EXPECT_EXIT(
      {
        exitcleanup::blockTerminationSignals();
        exitcleanup::watchTerminationSignals([](int signal) { exitcleanup::cleanUpAndExit(signal, 0ms); });
        beforeMarkerRename = [] {
          ::kill(::getpid(), SIGTERM);
          // On until the exit path has begun (it lets no step begin then).
          for (int i = 0; i < 5000 && files::WholeStep::begin().held(); ++i) std::this_thread::sleep_for(1ms);
        };
        testing::CapturingLog log;
        publishDocument(home.path(), {{R"({"items":[]})"}, "2026-12-05T09:00:00Z", "business-eur", "eur"},
                        log);
        std::this_thread::sleep_for(30s);
      },
      ::testing::ExitedWithCode(128 + SIGTERM), "");
  EXPECT_THAT(files::listFolder(home / documents).value_or(std::vector<std::string>{}),
              UnorderedElementsAre("business-eur.json", "business-eur_updated.txt"));
  EXPECT_EQ(files::readFile(home / documents / "business-eur_updated.txt"), "2026-12-05T09:00:00Z");
}

}  // namespace
}  // namespace quillory::publish
#endif
