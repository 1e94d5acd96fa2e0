#include <functional>

#include "LibraryFixture.h"
#include "libraries/Pruning.h"

namespace quillory::libraries::test {
namespace {

// Defaults that note every removal, marked when the library's pair was
// still on disk at that moment (deletion must come before the keys go).
class RecordingDefaults final : public platform::Defaults {
 public:
  explicit RecordingDefaults(platform::Defaults& inner) : inner_(inner) {}
  platform::DefaultsValue value(const std::string& key) const override { return inner_.value(key); }
  void setBool(const std::string& key, bool value) override { inner_.setBool(key, value); }
  void setString(const std::string& key, const std::string& value) override { inner_.setString(key, value); }
  void setDate(const std::string& key, platform::Date value) override { inner_.setDate(key, value); }
  void remove(const std::string& key) override {
    removals.push_back(key + (filesOnDisk && filesOnDisk(key) ? " (files on disk)" : ""));
    inner_.remove(key);
  }
  std::vector<std::string> keys() const override { return inner_.keys(); }

  std::function<bool(const std::string& key)> filesOnDisk;
  std::vector<std::string> removals;

 private:
  platform::Defaults& inner_;
};

using Pruning = LibraryFixture;

// The four rows of the pruning table in one pass, in the order of the names.
TEST_F(Pruning, EachRowOfTheTable) {
  RecordingDefaults recording{defaults};
  const std::string gone = (home.path() / "Ledgers/Gone").string();
  // Switched on: stays whatever its path, and is not even recovered.
  defaults.setBool("sync_library_On", true);
  publish("on-eur.json", "On", gone);
  // Disabled with an unknown path: forgotten without touching files.
  defaults.setBool("sync_library_Old", false);
  defaults.setString("library_path_Old", "");
  defaults.setString("library_filename_Old", "old-eur.json");
  publish("old-eur.json", "Someone else", "");
  // Disabled with an existing folder: stays silently.
  defaults.setBool("sync_library_Kept", false);
  defaults.setString("library_path_Kept", home.makeFolder("Ledgers/Existing").string());
  defaults.setString("library_filename_Kept", "kept-eur.json");
  // Orphaned: its path is recovered, then its pair deleted, then its keys go.
  defaults.setBool("sync_library_Trip", false);
  defaults.setString("library_filename_Trip", "trip-chf.json");
  publish("trip-chf.json", "Trip", gone);
  recording.filesOnDisk = [&](const std::string& key) {
    return key.ends_with("_Trip") && (hasEntry("trip-chf.json") || hasEntry("trip-chf_updated.txt"));
  };

  const LibraryContext recorded{recording, log, home.path()};
  EXPECT_TRUE(pruneLibraries(recorded));
  EXPECT_THAT(log.lines(),
              ElementsAre("[Helper] Pruned disabled library 'Old' (path unknown, JSON already deleted)",
                          "[Helper] Recovered path for 'Trip': " + gone,
                          "[Helper] Deleted iCloud files: trip-chf.json, trip-chf_updated.txt",
                          "[Helper] Pruned orphaned library 'Trip' (path no longer exists)"));
  EXPECT_THAT(recording.removals,
              ElementsAre("sync_library_Old", "library_path_Old", "library_filename_Old", "sync_library_Trip",
                          "library_path_Trip", "library_filename_Trip"));
  EXPECT_EQ(defaults.keys(), (std::vector<std::string>{"library_filename_Kept", "library_path_Kept",
                                                       "sync_library_Kept", "sync_library_On"}));
  for (const char* kept : {"on-eur.json", "on-eur_updated.txt", "old-eur.json", "old-eur_updated.txt"}) {
    EXPECT_TRUE(hasEntry(kept)) << kept;
  }
  EXPECT_FALSE(hasEntry("trip-chf.json") || hasEntry("trip-chf_updated.txt"));
  EXPECT_FALSE(pruneLibraries(recorded));  // a second pass finds nothing more
}

// An orphan whose files could not all be deleted is not forgotten: it stays
// listed and the next pass tries again.
TEST_F(Pruning, AnOrphanWhoseFilesStayKeepsItsKeys) {
  defaults.setBool("sync_library_Trip", false);
  defaults.setString("library_path_Trip", (home.path() / "Gone").string());
  defaults.setString("library_filename_Trip", "trip.json");
  writeEntry("trip.json/inside", "a folder where the document belongs");
  EXPECT_FALSE(pruneLibraries(context));
  EXPECT_EQ(defaults.keys().size(), 3u);
}

using Deletion = LibraryFixture;

// The marker the writer wrote: only the ".json" ending is replaced.
TEST_F(Deletion, ByRecordedNameWithTheJsonEndingReplaced) {
  writeEntry("a.json.b.json", "{}");
  writeEntry("a.json.b_updated.txt", "2026-12-05T11:32:21Z");
  writeEntry("a_updated.txt.b_updated.txt", "2026-12-05T11:32:21Z");
  defaults.setString("library_filename_AB", "a.json.b.json");
  deleteLibraryFiles(context, "AB");
  EXPECT_FALSE(hasEntry("a.json.b.json") || hasEntry("a.json.b_updated.txt"));
  EXPECT_TRUE(hasEntry("a_updated.txt.b_updated.txt"));
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Deleted iCloud files: a.json.b.json, a.json.b_updated.txt"));
}

TEST_F(Deletion, AStaleFileNameRecordDeletesNothingAndDoesNotScan) {
  defaults.setString("library_filename_Lib", "lib-eur.json");
  publish("lib-usd.json", "Lib", "/Users/me/Lib");
  // Only files that were removed are reported.
  EXPECT_TRUE(deleteLibraryFiles(context, "Lib"));
  EXPECT_EQ(log.size(), 0u);
  EXPECT_TRUE(hasEntry("lib-usd.json") && hasEntry("lib-usd_updated.txt"));
  EXPECT_TRUE(deleteLibraryFiles(context, "Other"));
  EXPECT_EQ(log.size(), 0u);
}

// Every app container found by the writer's scan loses the library's pair and
// its currency pair (not another library's); a file that stays is reported
// with its reason and makes the deletion incomplete.
TEST_F(Deletion, ReachesEveryAppContainerAndReportsWhatStays) {
  const fs::path x = "Library/Containers/X/Data", y = "Library/Containers/Y/Data";
  for (const fs::path& app : {x, y})
    home.writeFile(app / "Library/Preferences/test.quillory.mobile.plist", "");
  defaults.setString("library_filename_Lib", "lib-eur.json");
  publish("lib-eur.json", "Lib", "/gone");
  for (const fs::path& app : {x, y}) publish("lib-eur.json", "Lib", "/gone", app / "Documents");
  publish("eur.json", "Lib", "/gone", x / "Documents");
  publish("eur.json", "Other", "/other", y / "Documents");
  fs::remove(home / y / "Documents/lib-eur_updated.txt");
  home.writeFile(y / "Documents/lib-eur_updated.txt/inside", "a folder where the marker belongs");

  EXPECT_FALSE(deleteLibraryFiles(context, "Lib"));
  const std::string xDocs = (home / x / "Documents").string(), yDocs = (home / y / "Documents").string();
  EXPECT_THAT(log.lines(),
              ::testing::UnorderedElementsAre(
                  "[Helper] Deleted iCloud files: lib-eur.json, lib-eur_updated.txt",
                  "[Helper] Deleted files in " + xDocs + ": lib-eur.json, lib-eur_updated.txt",
                  "[Helper] Deleted files in " + xDocs + ": eur.json, eur_updated.txt",
                  "[Helper] \u2717 Could not delete " + yDocs + "/lib-eur_updated.txt: Is a directory",
                  "[Helper] Deleted files in " + yDocs + ": lib-eur.json"));
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
    if (entry.is_regular_file()) left.push_back(entry.path().lexically_relative(home.path()).string());
  }
  EXPECT_THAT(left, ::testing::UnorderedElementsAre(
                        (x / "Library/Preferences/test.quillory.mobile.plist").string(),
                        (y / "Library/Preferences/test.quillory.mobile.plist").string(),
                        (y / "Documents/eur.json").string(), (y / "Documents/eur_updated.txt").string(),
                        (y / "Documents/lib-eur_updated.txt/inside").string()));
}

TEST_F(Deletion, ScanRemovesOnlyTheFirstMatchInListingOrder) {
  publish("first.json", "Cafe\xCC\x81", "/a");
  publish("second.json", "Caf\xC3\xA9", "/b");
  publish("third.JSON", "Caf\xC3\xA9", "/c");
  publish("lower.json", "caf\xC3\xA9", "/d");
  defaults.setString("library_filename_Caf\xC3\xA9", "");  // an empty record counts as none

  const std::string first = firstListed({"first.json", "second.json"});
  const std::string second = first == "first.json" ? "second.json" : "first.json";
  deleteLibraryFiles(context, "Caf\xC3\xA9");
  EXPECT_THAT(log.lines(),
              ElementsAre("[Helper] Deleted iCloud files: " + first + ", " + markerNameFor(first),
                          "[Helper] Deleted iCloud files (by scan): " + first));
  EXPECT_FALSE(hasEntry(first) || hasEntry(markerNameFor(first)));
  for (const std::string& kept :
       {second, markerNameFor(second), std::string("third.JSON"), std::string("lower.json")}) {
    EXPECT_TRUE(hasEntry(kept)) << kept;
  }
}

// A file-name record that is not a plain name inside the container Documents
// folder is treated like a missing record: nothing outside is touched and the
// library's own document is found by scan instead.
TEST_F(Deletion, AFileNameRecordNeverReachesOutsideTheFolder) {
  const std::string withNul = std::string("victim.json\0/../x.json", 22);
  for (const std::string& record : {std::string("../victim.json"), std::string("a/b.json"), std::string(".."),
                                    std::string("."), std::string("/victim.json"), withNul}) {
    SCOPED_TRACE(record);
    log.clear();
    const fs::path outside =
        home.writeFile("Library/Mobile Documents/iCloud~test~quillory~mobile/victim.json", "{}");
    const fs::path outsideMarker =
        home.writeFile("Library/Mobile Documents/iCloud~test~quillory~mobile/victim_updated.txt", "t");
    const fs::path nested = writeEntry("a/b.json", "{}");
    const fs::path nestedMarker = writeEntry("a/b_updated.txt", "t");
    const fs::path absolute = home.writeFile("victim.json", "{}");
    const fs::path inside = writeEntry("victim.json", R"({"libraryName":"Someone else"})");
    publish("lib-eur.json", "Lib", "/Users/me/Lib");
    defaults.setString("library_filename_Lib", record);

    deleteLibraryFiles(context, "Lib");
    for (const fs::path& survivor : {outside, outsideMarker, nested, nestedMarker, absolute, inside}) {
      EXPECT_TRUE(fs::exists(survivor)) << survivor;
    }
    EXPECT_TRUE(fs::is_directory(docs()));
    EXPECT_FALSE(hasEntry("lib-eur.json") || hasEntry("lib-eur_updated.txt"));
    EXPECT_THAT(log.lines(), ElementsAre("[Helper] Deleted iCloud files: lib-eur.json, lib-eur_updated.txt",
                                         "[Helper] Deleted iCloud files (by scan): lib-eur.json"));

    // Called directly, such a name removes nothing and claims nothing.
    log.clear();
    deletePublishedFiles(log, record, docs());
    EXPECT_TRUE(fs::exists(outside) && fs::exists(nested) && fs::exists(absolute) && fs::exists(inside));
    EXPECT_EQ(log.size(), 0u);
  }
}

}  // namespace
}  // namespace quillory::libraries::test
