// Destinations the helper cannot write: files where folders are expected and
// folders where files are expected, in the container and in an app
// container. The failing destination is logged and skipped; when none is
// left the sync fails with noDestinations, and once the obstacle is gone the
// next sync succeeds.

#include <optional>
#include <string>

#include "faults/FaultFixture.h"
#include "platform/Files.h"

namespace quillory::faults::test {
namespace {

enum class Under { home, documents, app };

struct DestinationFault {
  const char* name;
  Under under;       // where `path` starts; an app container is added for Under::app
  const char* path;  // the obstacle: a file, or with `folder` a folder holding keep.txt
  bool folder;
  std::optional<std::string> error;  // lastError after the sync
  bool failureLine;                  // a "[Helper]   ✗ Documents: " line is expected
  int destinationsAfterFix;
  friend void PrintTo(const DestinationFault& c, std::ostream* os) { *os << c.name; }
};

class DestinationFaultTest : public FaultTest, public ::testing::WithParamInterface<DestinationFault> {};

const char kNone[] = "No write destinations found";
const DestinationFault kFaults[] = {
    {"ContainerDocumentsIsAFile", Under::documents, "", false, kNone, true, 1},
    {"MobileDocumentsIsAFile", Under::home, "Library/Mobile Documents", false, kNone, true, 1},
    {"DocumentIsAFolder", Under::documents, "biz-eur.json", true, kNone, true, 1},
    {"MarkerIsAFolder", Under::documents, "biz-eur_updated.txt", true, kNone, true, 1},
    {"AppContainerDocumentsIsAFile", Under::app, "", false, std::nullopt, true, 2},
    {"AppContainerDocumentIsAFolder", Under::app, "biz-eur.json", true, std::nullopt, true, 2},
    {"ContainersFolderIsAFile", Under::home, "Library/Containers", false, std::nullopt, false, 1},
};

TEST_P(DestinationFaultTest, IsLoggedSkippedAndRecoveredFrom) {
  const DestinationFault& fault = GetParam();
  if (fault.under == Under::app) addAppContainer();
  settleLibrary();
  const fs::path base = fault.under == Under::home  ? home.path()
                        : fault.under == Under::app ? appDocuments()
                                                    : documents();
  const fs::path obstacle = *fault.path != '\0' ? base / fault.path : base;
  const fs::path file = fault.folder ? obstacle / "keep.txt" : obstacle;  // what the obstacle holds
  const std::string bytes = fault.folder ? "kept" : "not a folder";
  home.writeFile(file.lexically_relative(home.path()), bytes);
  const std::set<std::string> outside = outsideTheFolders();

  log.clear();
  const std::optional<std::string> error = syncNow();

  EXPECT_EQ(error, fault.error);
  if (error) {
    EXPECT_EQ(statusLine(), "\u26A0 " + *error);
    EXPECT_TRUE(log.contains("[Helper] \u2717 Export failed (manual): noDestinations"));
    EXPECT_FALSE(defaults->value("library_filename_Biz").asString()) << "records written for a failed export";
  } else {
    EXPECT_TRUE(log.contains("[Helper] \u2713 Export OK (manual) \u2192 1 destination(s)"));
  }
  EXPECT_EQ(log.contains("[Helper]   \u2717 Documents: "), fault.failureLine);
  // The obstacle is left as it was: the helper never removes what it did not write.
  EXPECT_EQ(fs::is_directory(obstacle), fault.folder);
  EXPECT_EQ(platform::files::readFile(file), bytes);
  expectNoPartialFiles();
  EXPECT_EQ(outsideTheFolders(), outside);

  fs::remove_all(obstacle);
  expectNextSyncSucceeds(fault.destinationsAfterFix);
}

INSTANTIATE_TEST_SUITE_P(Faults, DestinationFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillory::faults::test
