#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "platform/Files.h"
#include "platform/posix/ExitCleanup.h"
#include "publish/Destinations.h"
#include "publish/DocumentTransform.h"
#include "support/CapturingLog.h"
#include "support/FakeClock.h"
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
#endif

namespace quillory::publish {
namespace {

namespace fs = std::filesystem;
namespace files = platform::files;
using ::testing::ElementsAre;
using ::testing::StartsWith;

const fs::path kContainerDocuments = "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents";
const fs::path kPreferences = "Data/Library/Preferences/test.quillory.mobile.plist";

class DestinationsTest : public ::testing::Test {
 protected:
  int publish() {
    const PublishRequest request{{R"({"items":[]})"}, "2026-12-05T09:00:00Z", "business-eur", "eur"};
    return publishDocument(home.path(), request, log);
  }
  fs::path appContainer(const std::string& name) {
    home.writeFile(fs::path("Library/Containers") / name / kPreferences, "plist");
    return home / "Library/Containers" / name / "Data/Documents";
  }
  std::vector<std::string> entries(const fs::path& folder) {
    auto names = files::listFolder(folder).value_or(std::vector<std::string>{});
    std::sort(names.begin(), names.end());
    return names;
  }

  testing::TempHome home;
  testing::CapturingLog log;
  const fs::path documents = home / kContainerDocuments;
};

TEST_F(DestinationsTest, AFailingWriteIsLoggedAndSkippedAndLeavesNoTemporaryFile) {
  home.writeFile(kContainerDocuments, "not a folder");  // a file where the folder should be
  const std::error_code expected = files::createFolders(documents);
  ASSERT_TRUE(expected);
  // A folder where the app container's marker should be.
  const fs::path app = appContainer("X");
  home.makeFolder(app.lexically_relative(home.path()) / "business-eur_updated.txt");

  EXPECT_EQ(publish(), 0);
  // The document stays written without its marker; the currency pair is written.
  EXPECT_THAT(entries(app),
              ElementsAre("business-eur.json", "business-eur_updated.txt", "eur.json", "eur_updated.txt"));
  EXPECT_TRUE(fs::is_directory(app / "business-eur_updated.txt"));
  EXPECT_THAT(log.lines(), ElementsAre("[Helper]   \u2717 Documents: " + expected.message(),
                                       StartsWith("[Helper]   \u2717 Documents: "),
                                       "[Helper]   \u2192 " + (app / "eur.json").string()));
}

#if defined(QUILLORY_WRAPPED_RENAME)
// A termination signal between a pair's two renames ends the process only
// once the pair is whole, with no temporary file left.
TEST_F(DestinationsTest, ASignalBetweenAPairsTwoRenamesEndsTheProcessOnceThePairIsWhole) {
  using namespace std::chrono_literals;
  namespace exitcleanup = platform::posix::exitcleanup;
  home.writeFile(kContainerDocuments / "business-eur.json", "old");
  home.writeFile(kContainerDocuments / "business-eur_updated.txt", "old");
  EXPECT_EXIT(
      {
        exitcleanup::blockTerminationSignals();
        exitcleanup::watchTerminationSignals([](int signal) { exitcleanup::cleanUpAndExit(signal, 0ms); });
        beforeMarkerRename = [] {
          ::kill(::getpid(), SIGTERM);
          // On until the exit path has begun (it lets no step begin then).
          for (int i = 0; i < 5000 && files::WholeStep::begin().held(); ++i) std::this_thread::sleep_for(1ms);
        };
        publish();
        std::this_thread::sleep_for(30s);
      },
      ::testing::ExitedWithCode(128 + SIGTERM), "");
  EXPECT_THAT(entries(documents), ElementsAre("business-eur.json", "business-eur_updated.txt"));
  EXPECT_EQ(files::readFile(documents / "business-eur_updated.txt"), "2026-12-05T09:00:00Z");
}
#endif

TEST_F(DestinationsTest, WritesEveryPairWhoseNamesFitUnderTheNamesEveryReaderLooksFor) {
  std::string accented;  // 242 bytes of two-byte characters
  while (accented.size() + 2 <= 242) accented += "\xC3\xA9";
  // Only the last ".json" is replaced in the marker's name.
  for (const std::string& name :
       {std::string(243, 'n'), accented, std::string("my.json-eur"), std::string("a.json.json")}) {
    const PublishRequest request{{"{}"}, "2026-12-05T09:00:00Z", name, "eur"};
    EXPECT_EQ(publishDocument(home.path(), request, log), 1);
    EXPECT_TRUE(files::exists(documents / (name + ".json")) &&
                files::exists(documents / (name + "_updated.txt")))
        << name;
  }
  EXPECT_EQ(entries(documents).size(), 8u);
}

// A document kept in blocks of any size is published byte for byte as it was
// when kept in one string (`expected`, as that writer wrote it): block ends
// fall inside strings, escapes, numbers and replaced members, and more blocks
// than one gathered write takes. A piece that cannot be written leaves the
// old document and no temporary file.
TEST_F(DestinationsTest, PublishesADocumentInBlocksByteForByteAndAFailedPieceChangesNothing) {
  const std::string exportText =
      R"({"a":[1e5,-0.0],"items":[{"id":"gone"}],"b":"/","items":[{"id":"x","id":"tab\t\"q\"\\ \/ )"
      R"(\u00e9\ud83d\ude00 and more","amounts":{"v":-123456789.123456789e-5,"lines":[[1,2.5]]},"tags":["x"],)"
      R"("notes":"n","tags":["y\n\u0001"],"ocrText":"dropped"}],"c":{"d":null}})";
  const std::string expected =
      R"({"a":[1e5,-0.0],"b":"\/","items":[{"id":"tab\t\"q\"\\ \/ )"
      "\u00e9\U0001F600"
      R"( and more","amounts":{"v":-123456789.123456789e-5,"lines":[[1,2.5]]})"
      R"(,"notes":"n","tags":["y\n\u0001"]}],"c":{"d":null})"
      R"(,"libraryName":"Business EUR","currencyCode":"EUR","exportedAt":"2026-12-05T09:00:00Z","libraryPath":""})";
  const testing::FakeClock clock;
  for (const std::size_t blockSize : {1, 2, 3, 5, 8, 13, 64, 4096}) {
    ExportTransform transform(blockSize);
    for (std::size_t at = 0; at < exportText.size(); at += 7) transform.write(exportText.substr(at, 7));
    const PreparedExport prepared = transform.finish(std::string("Business EUR"), clock);
    EXPECT_EQ(prepared.documentBytes.str(), expected) << blockSize;
    if (blockSize != 3) continue;
    const PublishRequest request{prepared.documentBytes.pieces(), prepared.markerBytes, "business-eur",
                                 "eur"};
    EXPECT_EQ(publishDocument(home.path(), request, log), 1);
    EXPECT_EQ(files::readFile(documents / "business-eur.json"), expected);

    // Files may not grow past 40 bytes: the first pieces of a new document
    // are written, a later one fails.
    PublishRequest changed = request;
    changed.documentBytes.push_back("\n");
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{40, limit.rlim_max};
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);  // the write fails instead
    ::setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_EQ(publishDocument(home.path(), changed, log), 0);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, previous);
    EXPECT_EQ(files::readFile(documents / "business-eur.json"), expected);
    EXPECT_THAT(entries(documents), ElementsAre("business-eur.json", "business-eur_updated.txt"));
  }
}

}  // namespace
}  // namespace quillory::publish
