// The last-sync date of the status line, and the manager's calls into the
// library records, pruning and deletion.

#include "EngineFixture.h"
#include "platform/Iso8601.h"

namespace quillory::engine::test {
namespace {

const std::string kDocs = "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents/";

struct SyncDateCase {
  const char* name;
  std::optional<std::string> record;  // library_filename_Biz
  std::string markerPath;             // below the home folder; empty: no file
  std::string markerBytes;
  std::optional<std::string> expected;  // ISO 8601
};

class CurrentLibrarySyncDateTest : public EngineTest, public ::testing::WithParamInterface<SyncDateCase> {};

TEST_P(CurrentLibrarySyncDateTest, ReadsTheCurrentLibrarysMarker) {
  settleLibrary("Biz");
  const SyncDateCase& c = GetParam();
  if (c.record) defaults.setString("library_filename_Biz", *c.record);
  if (!c.markerPath.empty()) home.writeFile(c.markerPath, c.markerBytes);
  const std::optional<platform::Date> expected =
      c.expected ? platform::parseIso8601(*c.expected) : std::optional<platform::Date>{};
  if (c.expected) {
    ASSERT_TRUE(expected);
  }
  EXPECT_EQ(engine().currentLibrarySyncDate(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, CurrentLibrarySyncDateTest,
    ::testing::Values(
        SyncDateCase{"noRecord", std::nullopt, kDocs + "biz-eur_updated.txt", "2026-12-05T11:32:21Z", {}},
        SyncDateCase{"emptyRecord", "", kDocs + "_updated.txt", "2026-12-05T11:32:21Z", {}},
        SyncDateCase{"plain", "biz-eur.json", kDocs + "biz-eur_updated.txt", "2026-12-05T11:32:21Z",
                     "2026-12-05T11:32:21Z"},
        SyncDateCase{"trimmed", "biz-eur.json", kDocs + "biz-eur_updated.txt", " \t2026-12-05T11:32:21Z\n\n",
                     "2026-12-05T11:32:21Z"},
        SyncDateCase{"offset", "biz-eur.json", kDocs + "biz-eur_updated.txt", "2026-12-05T12:32:21+01:00",
                     "2026-12-05T11:32:21Z"},
        SyncDateCase{"everyJsonReplaced", "a.json.json", kDocs + "a_updated.txt_updated.txt",
                     "2026-12-05T11:32:21Z", "2026-12-05T11:32:21Z"},
        SyncDateCase{"fraction", "biz-eur.json", kDocs + "biz-eur_updated.txt", "2026-12-05T11:32:21.5Z", {}},
        SyncDateCase{"notADate", "biz-eur.json", kDocs + "biz-eur_updated.txt", "yesterday", {}},
        SyncDateCase{"notUtf8",
                     "biz-eur.json",
                     kDocs + "biz-eur_updated.txt",
                     "\xff"
                     "2026-12-05T11:32:21Z",
                     {}},
        SyncDateCase{"noMarker", "biz-eur.json", "", "", {}},
        SyncDateCase{"markerIsAFolder", "biz-eur.json", kDocs + "biz-eur_updated.txt/x", "", {}},
        SyncDateCase{"appContainerOnly",
                     "biz-eur.json",
                     "Library/Containers/X/Data/Documents/biz-eur_updated.txt",
                     "2026-12-05T11:32:21Z",
                     {}},
        // Records that would lead out of the container folder count as missing.
        SyncDateCase{"parentInRecord",
                     "../outside.json",
                     "Library/Mobile Documents/iCloud~test~quillory~mobile/outside_updated.txt",
                     "2026-12-05T11:32:21Z",
                     {}},
        SyncDateCase{
            "subfolderInRecord", "sub/biz.json", kDocs + "sub/biz_updated.txt", "2026-12-05T11:32:21Z", {}},
        SyncDateCase{"dotDot", "..", "", "", {}}),
    [](const auto& info) { return info.param.name; });

TEST_F(EngineTest, NoCurrentLibraryHasNoSyncDate) {
  defaults.setString("library_filename_Biz", "biz-eur.json");
  home.writeFile(kDocs + "biz-eur_updated.txt", "2026-12-05T11:32:21Z");
  EXPECT_FALSE(engine().currentLibrarySyncDate());
}

TEST_F(EngineTest, RecoveryAndDeletionWorkOnTheManagersHomeFolder) {
  home.writeFile(kDocs + "home-eur.json", R"({"libraryName":"Home","libraryPath":"/gone/Home"})");
  home.writeFile(kDocs + "home-eur_updated.txt", "2026-12-05T11:32:21Z");
  EXPECT_EQ(engine().recoverLibraryPath("Home"), "/gone/Home");
  EXPECT_EQ(defaults.value("library_path_Home").asString(), "/gone/Home");

  engine().deleteLibraryFiles("Home");
  EXPECT_FALSE(std::filesystem::exists(home / (kDocs + "home-eur.json")));
  EXPECT_FALSE(std::filesystem::exists(home / (kDocs + "home-eur_updated.txt")));
  EXPECT_TRUE(log.contains("[Helper] Deleted iCloud files (by scan): home-eur.json"));
}

TEST_F(EngineTest, DeletionNeverRemovesAFileOutsideTheContainerFolder) {
  const auto outside = home.writeFile("Library/Mobile Documents/iCloud~test~quillory~mobile/keep.json", "{}");
  const auto outsideMarker =
      home.writeFile("Library/Mobile Documents/iCloud~test~quillory~mobile/keep_updated.txt", "x");
  defaults.setString("library_filename_Home", "../keep.json");
  engine().deleteLibraryFiles("Home");
  EXPECT_TRUE(std::filesystem::exists(outside));
  EXPECT_TRUE(std::filesystem::exists(outsideMarker));
}

}  // namespace
}  // namespace quillory::engine::test
