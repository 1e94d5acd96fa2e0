#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "libraries/ContainerPaths.h"
#include "platform/Files.h"
#include "publish/Destinations.h"
#include "support/CapturingLog.h"
#include "support/TempHome.h"

namespace quillory::publish {
namespace {

namespace fs = std::filesystem;
namespace files = platform::files;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

const fs::path kContainerDocuments = "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents";
const fs::path kPreferences = "Data/Library/Preferences/test.quillory.mobile.plist";

class DestinationsTest : public ::testing::Test {
 protected:
  int publish() {
    const PublishRequest request{R"({"items":[]})", "2026-12-05T09:00:00Z", "business-eur", "eur"};
    return publishDocument(home.path(), "test.quillory.mobile", request, log);
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
  std::string success(const fs::path& folder, const std::string& name) {
    return "[Helper]   \u2192 " + folder.string() + "/" + name;
  }

  testing::TempHome home;
  testing::CapturingLog log;
  const fs::path documents = home / kContainerDocuments;
};

TEST_F(DestinationsTest, CreatesTheContainerFolderAndWritesBothPairsToAppContainers) {
  const fs::path first = appContainer("X");
  const fs::path second = appContainer("Y");
  EXPECT_EQ(publish(), 3);
  EXPECT_EQ(files::readFile(documents / "business-eur.json"), R"({"items":[]})");
  EXPECT_EQ(files::readFile(documents / "business-eur_updated.txt"), "2026-12-05T09:00:00Z");
  EXPECT_THAT(entries(documents), ElementsAre("business-eur.json", "business-eur_updated.txt"));
  for (const fs::path& folder : {first, second}) {
    EXPECT_THAT(entries(folder),
                ElementsAre("business-eur.json", "business-eur_updated.txt", "eur.json", "eur_updated.txt"));
    EXPECT_EQ(files::readFile(folder / "eur.json"), R"({"items":[]})");
    EXPECT_EQ(files::readFile(folder / "eur_updated.txt"), "2026-12-05T09:00:00Z");
  }
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], success(documents, "business-eur.json"));
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 1, lines.end()),
              UnorderedElementsAre(success(first, "business-eur.json"), success(first, "eur.json"),
                                   success(second, "business-eur.json"), success(second, "eur.json")));
}

TEST_F(DestinationsTest, OnlyTheExactPreferencesFileMatches) {
  for (const char* path : {"A/Data/Library/Preferences/Test.quillory.mobile.plist",
                           "B/Data/Library/Prefs/x/test.quillory.mobile.plist",
                           "C/Data/Library/Preferences/test.quillory.mobile.plist.bak",
                           ".D/Data/Library/Preferences/test.quillory.mobile.plist",
                           "E.app/Data/Library/Preferences/test.quillory.mobile.plist",
                           "F/Data/Library/Preferences/.test.quillory.mobile.plist"}) {
    home.writeFile(fs::path("Library/Containers") / path, "");
  }
  EXPECT_EQ(publish(), 1);
  EXPECT_EQ(log.size(), 1u);
  for (const char* container : {"A", "B", "C", ".D", "E.app", "F"}) {
    EXPECT_FALSE(files::exists(home / "Library/Containers" / container / "Data/Documents")) << container;
  }
}

TEST_F(DestinationsTest, AFailingDestinationIsLoggedAndSkipped) {
  home.writeFile(kContainerDocuments, "not a folder");  // a file where the folder should be
  const std::error_code expected = files::createFolders(documents);
  ASSERT_TRUE(expected);
  EXPECT_EQ(publish(), 0);
  EXPECT_THAT(log.lines(), ElementsAre("[Helper]   \u2717 Documents: " + expected.message()));

  log.clear();
  const fs::path app = appContainer("X");
  EXPECT_EQ(publish(), 1);
  EXPECT_THAT(log.lines(), ElementsAre("[Helper]   \u2717 Documents: " + expected.message(),
                                       success(app, "business-eur.json"), success(app, "eur.json")));
}

TEST_F(DestinationsTest, AFailedWriteLeavesNoTemporaryFile) {
  // A folder where the document, and in the app container the marker, should be.
  home.makeFolder(kContainerDocuments / "business-eur.json");
  const fs::path app = appContainer("X");
  home.makeFolder(app.lexically_relative(home.path()) / "business-eur_updated.txt");

  EXPECT_EQ(publish(), 0);
  EXPECT_THAT(entries(documents), ElementsAre("business-eur.json"));
  // The document stays written without its marker; the currency pair is written.
  EXPECT_THAT(entries(app),
              ElementsAre("business-eur.json", "business-eur_updated.txt", "eur.json", "eur_updated.txt"));
  EXPECT_TRUE(fs::is_directory(app / "business-eur_updated.txt"));
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].starts_with("[Helper]   \u2717 Documents: "));
  EXPECT_TRUE(lines[1].starts_with("[Helper]   \u2717 Documents: "));
  EXPECT_EQ(lines[2], success(app, "eur.json"));
}

// Every pair whose two names fit the file system is written, under the names
// every reader derives: long ASCII and non-ASCII names, ".json" inside a name.
class PairNamesTest : public DestinationsTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(PairNamesTest, WritesTheMarkerEveryReaderLooksFor) {
  const PublishRequest request{"{}", "2026-12-05T09:00:00Z", GetParam(), "eur"};
  EXPECT_EQ(publishDocument(home.path(), "test.quillory.mobile", request, log), 1);
  const std::string document = GetParam() + ".json";
  EXPECT_THAT(entries(documents), ElementsAre(document, libraries::markerNameFor(document)));
}

std::string accented(std::size_t bytes) {
  std::string name;
  while (name.size() + 2 <= bytes) name += "\xC3\xA9";
  return name;
}

INSTANTIATE_TEST_SUITE_P(Names, PairNamesTest,
                         ::testing::Values(std::string(243, 'n'), accented(242), "my.json-eur",
                                           "a.json.json"));

}  // namespace
}  // namespace quillory::publish
