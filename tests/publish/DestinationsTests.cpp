#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Files.h"
#include "publish/Destinations.h"
#include "support/CapturingLog.h"
#include "support/TempHome.h"

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
    const PublishRequest request{R"({"items":[]})", "2026-12-05T09:00:00Z", "business-eur", "eur"};
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
    EXPECT_EQ(files::readFile(folder / "eur_updated.txt"), "2026-12-05T09:00:00Z");
  }
}

TEST_F(DestinationsTest, OnlyTheExactPreferencesFileMatches) {
  for (const char* path : {"A/Data/Library/Preferences/Test.quillory.mobile.plist",
                           "B/Data/Library/Prefs/x/test.quillory.mobile.plist",
                           "C/Data/Library/Preferences/test.quillory.mobile.plist.bak",
                           "E.app/Data/Library/Preferences/test.quillory.mobile.plist"}) {
    home.writeFile(fs::path("Library/Containers") / path, "");
  }
  EXPECT_EQ(publish(), 1);
  for (const char* container : {"A", "B", "C", "E.app"}) {
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
  const auto failed = StartsWith("[Helper]   \u2717 Documents: ");
  EXPECT_THAT(log.lines(), ElementsAre(failed, failed, success(app, "eur.json")));
}

TEST_F(DestinationsTest, WritesEveryPairWhoseNamesFitUnderTheNamesEveryReaderLooksFor) {
  std::string accented;  // 242 bytes of two-byte characters
  while (accented.size() + 2 <= 242) accented += "\xC3\xA9";
  for (const std::string& name :
       {std::string(243, 'n'), accented, std::string("my.json-eur"), std::string("a.json.json")}) {
    const PublishRequest request{"{}", "2026-12-05T09:00:00Z", name, "eur"};
    EXPECT_EQ(publishDocument(home.path(), request, log), 1);
    EXPECT_TRUE(files::exists(documents / (name + ".json"))) << name;
    EXPECT_TRUE(files::exists(documents / (name + "_updated.txt")))
        << name;  // only the last ".json" replaced
  }
  EXPECT_EQ(entries(documents).size(), 8u);
}

}  // namespace
}  // namespace quillory::publish
