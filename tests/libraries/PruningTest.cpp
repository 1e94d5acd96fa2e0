#include "LibraryFixture.h"
#include "libraries/Pruning.h"

namespace quillory::libraries::test {
namespace {

using Pruning = LibraryFixture;

// The four rows of the pruning table in one pass, in the order of the names.
TEST_F(Pruning, EachRowOfTheTable) {
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
  // Orphaned: its path is recovered, then its pair deleted by its record (not
  // by scan: the keys go last), then its keys go.
  defaults.setBool("sync_library_Trip", false);
  defaults.setString("library_filename_Trip", "trip-chf.json");
  publish("trip-chf.json", "Trip", gone);

  EXPECT_TRUE(pruneLibraries(context));
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Pruned disabled library 'Old' (path unknown, JSON already "
                                       "deleted)",
                                       "[Helper] Recovered path for 'Trip': " + gone,
                                       "[Helper] Deleted iCloud files: trip-chf.json, trip-chf_updated.txt",
                                       "[Helper] Pruned orphaned library 'Trip' (path no longer exists)"));
  EXPECT_EQ(defaults.keys(), (std::vector<std::string>{"library_filename_Kept", "library_path_Kept",
                                                       "sync_library_Kept", "sync_library_On"}));
  for (const char* kept : {"on-eur.json", "on-eur_updated.txt", "old-eur.json", "old-eur_updated.txt"}) {
    EXPECT_TRUE(hasEntry(kept)) << kept;
  }
  EXPECT_FALSE(hasEntry("trip-chf.json") || hasEntry("trip-chf_updated.txt"));
  EXPECT_FALSE(pruneLibraries(context));  // a second pass finds nothing more
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

TEST_F(Deletion, ScanRemovesOnlyTheFirstMatchInListingOrder) {
  publish("first.json", "Cafe\xCC\x81", "/a");
  publish("second.json", "Caf\xC3\xA9", "/b");
  publish("third.JSON", "Caf\xC3\xA9", "/c");
  publish("lower.json", "caf\xC3\xA9", "/d");
  defaults.setString("library_filename_Caf\xC3\xA9",
                     "");  // an empty record counts as none

  const std::string first = firstListed({"first.json", "second.json"});
  deleteLibraryFiles(context, "Caf\xC3\xA9");
  EXPECT_THAT(log.lines(),
              ElementsAre("[Helper] Deleted iCloud files: " + first + ", " + markerNameFor(first),
                          "[Helper] Deleted iCloud files (by scan): " + first));
  EXPECT_FALSE(hasEntry(first) || hasEntry(markerNameFor(first)));
}

// A file-name record that is not a plain name inside the container Documents
// folder is treated like a missing record: nothing outside is touched (every
// removal is logged) and the library's own document is found by scan instead.
TEST_F(Deletion, AFileNameRecordNeverReachesOutsideTheFolder) {
  const fs::path container = "Library/Mobile Documents/iCloud~test~quillory~mobile";
  for (const std::string& record :
       {std::string("../victim.json"), std::string("a/b.json"), std::string(".."), std::string("."),
        std::string("/victim.json"), std::string("victim.json\0/../x.json", 22)}) {
    SCOPED_TRACE(record);
    log.clear();
    for (const char* file : {"victim.json", "victim_updated.txt"}) home.writeFile(container / file, "t");
    for (const char* file : {"a/b.json", "a/b_updated.txt"}) writeEntry(file, "t");
    writeEntry("victim.json", R"({"libraryName":"Someone else"})");
    publish("lib-eur.json", "Lib", "/Users/me/Lib");
    defaults.setString("library_filename_Lib", record);

    deleteLibraryFiles(context, "Lib");
    EXPECT_TRUE(fs::is_directory(docs()));
    EXPECT_THAT(log.lines(), ElementsAre("[Helper] Deleted iCloud files: lib-eur.json, lib-eur_updated.txt",
                                         "[Helper] Deleted iCloud files (by scan): lib-eur.json"));
  }
}

}  // namespace
}  // namespace quillory::libraries::test
