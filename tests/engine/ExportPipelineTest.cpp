// One export from the scripts' answers to the files and the records: what is
// recorded, where the pair is written, and the conflict alert.

#include <gmock/gmock.h>

#include "EngineFixture.h"
#include "platform/Files.h"
#include "publish/ContainerPaths.h"
#include "publish/JsonWriter.h"

namespace quillory::engine::test {
namespace {

namespace fs = std::filesystem;
namespace files = platform::files;

const fs::path kDocuments{publish::kContainerDocumentsRelative};
const fs::path kAppPreferences = "Library/Containers/X/Data/Library/Preferences/test.quillory.mobile.plist";
const std::string kBizExport = R"({"items":[{"asset":{"path":"/Volumes/D/Biz/assets/x.jpg"}}]})";

class ExportPipelineTest : public EngineTest {
 public:
  void SetUp() override { workspace.launch(kHost); }
  // One export with the name script answering `name` ("": no library); a
  // missing yes is given when asked.
  int run(const std::string& exportText, const std::string& name = "Business EUR") {
    scripts.setAnswer(kNameScript, name);
    scripts.setAnswer(kExportScript, exportText);
    return engine().exportLibrary();
  }
  std::optional<ExportErrorCode> failure(const std::string& exportText) {
    try {
      run(exportText);
    } catch (const ExportError& error) {
      return error.code();
    }
    return std::nullopt;
  }
};

// A failed transform writes nothing; no library is recorded before at least
// one destination took the pair.
TEST_F(ExportPipelineTest, RecordsOnlyAfterAtLeastOneDestination) {
  EXPECT_EQ(failure(R"({"items":{"id":1}})"), ExportErrorCode::parseFailure);
  // A number JSON cannot carry fails with the writer's own error.
  EXPECT_THROW(run(R"({"items":[{"amounts":{"value":1e999}}]})"), publish::JsonWriteError);
  EXPECT_FALSE(files::exists(home / "Library"));
  EXPECT_EQ(alerts.count(), 0u);
  home.writeFile(kDocuments, "a file where the folder belongs");
  EXPECT_EQ(failure(kBizExport), ExportErrorCode::noDestinations);
  EXPECT_EQ(defaults.keys(), (std::vector<std::string>{kAutoSyncEnabledKey, "sync_library_Business EUR"}));

  home.writeFile(kAppPreferences, "");  // an app container alone is enough
  EXPECT_EQ(run(kBizExport), 1);
  EXPECT_EQ(defaults.value("library_filename_Business EUR").asString(), "business-eur.json");
}

TEST_F(ExportPipelineTest, ACurrencyTokenNeverLeavesTheDestinationFolders) {
  home.writeFile(kAppPreferences, "");
  EXPECT_EQ(run(R"({"items":[{"amountsOriginal":{"currency":"../../../../evil"}}]})", ""), 2);
  std::vector<std::string> all;
  for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
    if (entry.is_regular_file()) all.push_back(entry.path().lexically_relative(home.path()).string());
  }
  std::sort(all.begin(), all.end());
  const std::string app = "Library/Containers/X/Data/Documents/";
  EXPECT_THAT(
      all, ::testing::ElementsAre(app + "........evil.json", app + "........evil_updated.txt",
                                  app + "evil-........evil.json", app + "evil-........evil_updated.txt",
                                  kAppPreferences.string(), (kDocuments / "evil-........evil.json").string(),
                                  (kDocuments / "evil-........evil_updated.txt").string()));
}

TEST_F(ExportPipelineTest, AConflictWaitsForTheAlertOnTheMainThread) {
  const fs::path other = home.makeFolder("Other/Biz");
  const std::string existing = R"({"libraryPath":")" + other.string() + R"(","items":[]})";
  home.writeFile(kDocuments / "business-eur.json", existing);
  defaults.setBool("sync_library_Business EUR", true);
  std::optional<ExportErrorCode> result;
  dispatcher.global(platform::QualityOfService::userInitiated, [&] { result = failure(kBizExport); });
  settle();
  EXPECT_EQ(result, ExportErrorCode::nameConflict);
  EXPECT_EQ(alerts.count(), 1u);
  EXPECT_EQ(alerts.offMainCalls(), 0u);
}

}  // namespace
}  // namespace quillory::engine::test
