// Destinations the helper cannot write: files where folders are expected and
// folders where files are expected, in the container and in an app
// container. The failing destination is logged and skipped; when none is
// left the sync fails with noDestinations, and once the obstacle is gone the
// next sync succeeds.

#include <functional>
#include <optional>
#include <string>

#include "faults/FaultFixture.h"
#include "platform/Files.h"

namespace quillory::faults::test {
namespace {

struct DestinationFault {
  const char* name;
  bool appContainer;
  // Puts the obstacle in place and returns its path.
  std::function<fs::path(const testing::TempHome& home, const fs::path& documents, const fs::path& app)>
      block;
  std::optional<std::string> error;  // lastError after the sync
  bool failureLine;                  // a "[Helper]   ✗ Documents: " line is expected
  int destinationsAfterFix;
  friend void PrintTo(const DestinationFault& c, std::ostream* os) { *os << c.name; }
};

class DestinationFaultTest : public FaultTest, public ::testing::WithParamInterface<DestinationFault> {};

fs::path fileAt(const testing::TempHome& home, const fs::path& path) {
  return home.writeFile(fs::relative(path, home.path()), "not a folder");
}

fs::path folderAt(const testing::TempHome& home, const fs::path& path) {
  home.writeFile(fs::relative(path / "keep.txt", home.path()), "kept");
  return path;
}

const DestinationFault kFaults[] = {
    {"ContainerDocumentsIsAFile", false,
     [](const auto& home, const auto& documents, const auto&) { return fileAt(home, documents); },
     "No write destinations found", true, 1},
    {"MobileDocumentsIsAFile", false,
     [](const auto& home, const auto&, const auto&) {
       return fileAt(home, home / "Library/Mobile Documents");
     },
     "No write destinations found", true, 1},
    {"DocumentIsAFolder", false,
     [](const auto& home, const auto& documents, const auto&) {
       return folderAt(home, documents / "biz-eur.json");
     },
     "No write destinations found", true, 1},
    {"MarkerIsAFolder", false,
     [](const auto& home, const auto& documents, const auto&) {
       return folderAt(home, documents / "biz-eur_updated.txt");
     },
     "No write destinations found", true, 1},
    {"AppContainerDocumentsIsAFile", true,
     [](const auto& home, const auto&, const auto& app) { return fileAt(home, app); }, std::nullopt, true, 2},
    {"AppContainerDocumentIsAFolder", true,
     [](const auto& home, const auto&, const auto& app) { return folderAt(home, app / "biz-eur.json"); },
     std::nullopt, true, 2},
    {"ContainersFolderIsAFile", false,
     [](const auto& home, const auto&, const auto&) { return fileAt(home, home / "Library/Containers"); },
     std::nullopt, false, 1},
};

TEST_P(DestinationFaultTest, IsLoggedSkippedAndRecoveredFrom) {
  const DestinationFault& fault = GetParam();
  if (fault.appContainer) addAppContainer();
  settleLibrary();
  const fs::path obstacle = fault.block(home, documents(), appDocuments());
  const bool obstacleIsFolder = fs::is_directory(obstacle);
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
  EXPECT_EQ(fs::is_directory(obstacle), obstacleIsFolder);
  if (obstacleIsFolder) {
    EXPECT_EQ(platform::files::readFile(obstacle / "keep.txt"), std::optional<std::string>("kept"));
  } else {
    EXPECT_EQ(platform::files::readFile(obstacle), std::optional<std::string>("not a folder"));
  }
  expectNoPartialFiles();
  EXPECT_EQ(outsideTheFolders(), outside);

  fs::remove_all(obstacle);
  expectNextSyncSucceeds(fault.destinationsAfterFix);
}

INSTANTIATE_TEST_SUITE_P(Faults, DestinationFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillory::faults::test
