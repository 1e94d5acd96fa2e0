#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "LibraryFixture.h"
#include "libraries/LibraryRegistry.h"
#include "libraries/Pruning.h"

namespace quillory::libraries::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Defaults that note every removal together with a snapshot the test chooses
// (for example: is the document still on disk at that moment?).
class RecordingDefaults final : public platform::Defaults {
 public:
  explicit RecordingDefaults(platform::Defaults& inner) : inner_(inner) {}
  platform::DefaultsValue value(const std::string& key) const override { return inner_.value(key); }
  void setBool(const std::string& key, bool value) override { inner_.setBool(key, value); }
  void setString(const std::string& key, const std::string& value) override { inner_.setString(key, value); }
  void setDate(const std::string& key, platform::Date value) override { inner_.setDate(key, value); }
  void remove(const std::string& key) override {
    removals.push_back(key + (snapshot ? snapshot() : ""));
    inner_.remove(key);
  }
  std::vector<std::string> keys() const override { return inner_.keys(); }

  std::function<std::string()> snapshot;
  std::vector<std::string> removals;

 private:
  platform::Defaults& inner_;
};

std::string disabledLine(const std::string& name) {
  return "[Helper] Pruned disabled library '" + name + "' (path unknown, JSON already deleted)";
}

class Pruning : public LibraryFixture {
 protected:
  RecordingDefaults recording{defaults};
  LibraryContext recorded{recording, log, home.path()};

  std::string existingFolder() const { return home.makeFolder("Ledgers/Existing").string(); }
  std::string goneFolder() const { return (home.path() / "Ledgers/Gone").string(); }
};

TEST_F(Pruning, ASwitchedOnLibraryStaysWhateverItsPath) {
  defaults.setBool("sync_library_On", true);
  publish("on-eur.json", "On", goneFolder());

  EXPECT_FALSE(pruneLibraries(recorded));
  EXPECT_FALSE(pruneLibraries(recorded));
  EXPECT_THAT(recording.removals, IsEmpty());
  EXPECT_TRUE(defaults.value("library_path_On").isAbsent());  // not even recovered
  EXPECT_TRUE(hasEntry("on-eur.json") && hasEntry("on-eur_updated.txt"));
  EXPECT_EQ(log.size(), 0u);
}

TEST_F(Pruning, ADisabledLibraryWithAnUnknownPathIsForgottenWithoutTouchingFiles) {
  defaults.setBool("sync_library_Old", false);
  defaults.setString("library_path_Old", "");
  defaults.setString("library_filename_Old", "old-eur.json");
  publish("old-eur.json", "Someone else", "");

  EXPECT_TRUE(pruneLibraries(recorded));
  EXPECT_THAT(recording.removals,
              ElementsAre("sync_library_Old", "library_path_Old", "library_filename_Old"));
  EXPECT_THAT(log.lines(),
              ElementsAre("[Helper] Pruned disabled library 'Old' (path unknown, JSON already deleted)"));
  EXPECT_TRUE(hasEntry("old-eur.json") && hasEntry("old-eur_updated.txt"));
  EXPECT_THAT(knownLibraries(defaults), IsEmpty());
}

TEST_F(Pruning, ADisabledLibraryWhoseFolderExistsStaysSilently) {
  defaults.setBool("sync_library_Kept", false);
  defaults.setString("library_path_Kept", existingFolder());
  defaults.setString("library_filename_Kept", "kept-eur.json");

  EXPECT_FALSE(pruneLibraries(recorded));
  EXPECT_FALSE(pruneLibraries(recorded));
  EXPECT_THAT(recording.removals, IsEmpty());
  EXPECT_EQ(log.size(), 0u);
}

TEST_F(Pruning, AnOrphanedLibraryIsRecoveredThenDeletedThenForgotten) {
  defaults.setBool("sync_library_Trip", false);
  defaults.setString("library_filename_Trip", "trip-chf.json");
  publish("trip-chf.json", "Trip", goneFolder());
  publish("other-eur.json", "Other", goneFolder());
  recording.snapshot = [&] {
    return hasEntry("trip-chf.json") || hasEntry("trip-chf_updated.txt") ? " (files on disk)" : "";
  };

  EXPECT_TRUE(pruneLibraries(recorded));
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Recovered path for 'Trip': " + goneFolder(),
                                       "[Helper] Deleted iCloud files: trip-chf.json, trip-chf_updated.txt",
                                       "[Helper] Pruned orphaned library 'Trip' (path no longer exists)"));
  // The recovered path was stored first, so the pair is deleted before any key goes.
  EXPECT_THAT(recording.removals,
              ElementsAre("sync_library_Trip", "library_path_Trip", "library_filename_Trip"));
  EXPECT_TRUE(hasEntry("other-eur.json") && hasEntry("other-eur_updated.txt"));
  EXPECT_TRUE(defaults.keys().empty());
}

TEST_F(Pruning, AnOrphanWithARecordedPathNeedsNoRecovery) {
  defaults.setBool("sync_library_Trip", false);
  defaults.setString("library_path_Trip", goneFolder());
  publish("trip-chf.json", "Trip", "/somewhere/else");

  EXPECT_TRUE(pruneLibraries(recorded));
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Deleted iCloud files: trip-chf.json, trip-chf_updated.txt",
                                       "[Helper] Deleted iCloud files (by scan): trip-chf.json",
                                       "[Helper] Pruned orphaned library 'Trip' (path no longer exists)"));
  EXPECT_FALSE(hasEntry("trip-chf.json") || hasEntry("trip-chf_updated.txt"));
}

TEST_F(Pruning, EveryValueButTheBoolTrueCountsAsSwitchedOff) {
  // Declined at the first question and never published.
  defaults.setBool("sync_library_Declined", false);
  defaults.setString("sync_library_Text", "true");
  defaults.setDate("sync_library_Date", std::chrono::system_clock::now());
  defaults.setOther("sync_library_Other");
  defaults.setBool("sync_library_On", true);

  EXPECT_TRUE(pruneLibraries(recorded));
  EXPECT_THAT(log.lines(), ElementsAre(disabledLine("Date"), disabledLine("Declined"), disabledLine("Other"),
                                       disabledLine("Text")));
  EXPECT_THAT(knownLibraries(defaults), ElementsAre("On"));
  EXPECT_FALSE(pruneLibraries(recorded));
}

class Deletion : public LibraryFixture {};

TEST_F(Deletion, AStaleFileNameRecordDeletesNothingAndDoesNotScan) {
  defaults.setString("library_filename_Lib", "lib-eur.json");
  publish("lib-usd.json", "Lib", "/Users/me/Lib");

  deleteLibraryFiles(context, "Lib");
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Deleted iCloud files: lib-eur.json, lib-eur_updated.txt"));
  EXPECT_TRUE(hasEntry("lib-usd.json") && hasEntry("lib-usd_updated.txt"));
}

TEST_F(Deletion, ScanRemovesOnlyTheFirstMatchInListingOrder) {
  publish("first.json", "Cafe\xCC\x81", "/a");
  publish("second.json", "Caf\xC3\xA9", "/b");
  publish("third.JSON", "Caf\xC3\xA9", "/c");
  publish("lower.json", "caf\xC3\xA9", "/d");
  defaults.setString("library_filename_Caf\xC3\xA9",
                     "");  // an empty record counts as none

  std::string first;
  for (const std::string& entry : jsonEntriesInListingOrder()) {
    if (first.empty() && (entry == "first.json" || entry == "second.json")) first = entry;
  }
  const std::string second = first == "first.json" ? "second.json" : "first.json";
  const std::string firstMarker = markerNameFor(first);

  deleteLibraryFiles(context, "Caf\xC3\xA9");
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Deleted iCloud files: " + first + ", " + firstMarker,
                                       "[Helper] Deleted iCloud files (by scan): " + first));
  EXPECT_FALSE(hasEntry(first) || hasEntry(firstMarker));
  for (const std::string& kept :
       {second, markerNameFor(second), std::string("third.JSON"), std::string("lower.json")}) {
    EXPECT_TRUE(hasEntry(kept)) << kept;
  }
}

TEST_F(Deletion, NothingFoundNothingPrinted) {
  publish("other.json", "Other", "/o");
  deleteLibraryFiles(context, "Lib");
  fs::remove_all(docs());
  deleteLibraryFiles(context, "Lib");
  EXPECT_EQ(log.size(), 0u);

  // A recorded name still prints its line when the folder is gone.
  defaults.setString("library_filename_Lib", "lib.json");
  deleteLibraryFiles(context, "Lib");
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Deleted iCloud files: lib.json, lib_updated.txt"));
}

TEST_F(Deletion, TheMarkerNameReplacesEveryJsonInTheName) {
  EXPECT_EQ(markerNameFor("business-eur.json"), "business-eur_updated.txt");
  EXPECT_EQ(markerNameFor("a.json.b.json"), "a_updated.txt.b_updated.txt");
  EXPECT_EQ(markerNameFor(".json.json"), "_updated.txt_updated.txt");
  EXPECT_EQ(markerNameFor("upper.JSON"), "upper.JSON");
  EXPECT_EQ(markerNameFor("json"), "json");

  writeEntry("a.json.b.json", "{}");
  writeEntry("a_updated.txt.b_updated.txt", "2026-12-05T11:32:21Z");
  writeEntry("a_updated.txt.b.json", "{}");
  defaults.setString("library_filename_AB", "a.json.b.json");
  deleteLibraryFiles(context, "AB");
  EXPECT_FALSE(hasEntry("a.json.b.json") || hasEntry("a_updated.txt.b_updated.txt"));
  EXPECT_TRUE(hasEntry("a_updated.txt.b.json"));
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Deleted iCloud files: a.json.b.json, "
                                       "a_updated.txt.b_updated.txt"));
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

TEST_F(Pruning, APassThatPrunesSeveralReportsItOnce) {
  EXPECT_FALSE(pruneLibraries(recorded));  // nothing known at all

  defaults.setBool("sync_library_A", false);
  defaults.setBool("sync_library_B", false);
  defaults.setString("library_path_B", goneFolder());
  defaults.setBool("sync_library_C", false);
  defaults.setString("library_path_C", existingFolder());
  EXPECT_TRUE(pruneLibraries(recorded));
  EXPECT_EQ(log.count("[Helper] Pruned"), 2u);
  EXPECT_THAT(knownLibraries(defaults), ElementsAre("C"));
  EXPECT_FALSE(pruneLibraries(recorded));
}

}  // namespace
}  // namespace quillory::libraries::test
