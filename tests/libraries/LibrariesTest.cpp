// Library maintenance over a real temporary home folder: reading published
// documents, name conflicts, path recovery, deletion and pruning.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "libraries/LibraryContext.h"
#include "libraries/NameConflicts.h"
#include "libraries/Pruning.h"
#include "libraries/PublishedDocuments.h"
#include "publish/ContainerPaths.h"
#include "support/CapturingLog.h"
#include "support/MemoryDefaults.h"
#include "support/SmallStack.h"
#include "support/TempHome.h"

namespace quillory::libraries::test {
namespace {

namespace fs = std::filesystem;
using publish::kContainerDocumentsRelative;
using publish::markerNameFor;
using ::testing::ElementsAre;
using namespace std::string_literals;

class LibraryFixture : public ::testing::Test {
 protected:
  testing::MemoryDefaults defaults;
  testing::CapturingLog log;
  testing::TempHome home;
  LibraryContext context{defaults, log, home.path()};

  fs::path docs() const { return publish::containerDocumentsFolder(home.path()); }
  fs::path docsRelative(const std::string& entry) const {
    return fs::path(kContainerDocumentsRelative) / entry;
  }
  fs::path writeEntry(const std::string& entry, std::string_view bytes) const {
    return home.writeFile(docsRelative(entry), bytes);
  }
  bool hasEntry(const std::string& entry) const { return fs::exists(docs() / entry); }

  // Publishes a document pair naming `name` and `path` as a real export would.
  void publish(const std::string& fileName, boost::json::value_ref name, boost::json::value_ref path) const {
    boost::json::object document{
        {"libraryName", name}, {"libraryPath", path}, {"items", boost::json::array{}}};
    if (markerNameFor(fileName) != fileName) writeEntry(markerNameFor(fileName), "2026-12-05T11:32:21Z");
    writeEntry(fileName, boost::json::serialize(document));
  }
};

using PublishedDocuments = LibraryFixture;

// `levels` nested containers, the outermost an object with a libraryName.
std::string nestedDocument(int levels) {
  std::string doc = R"({"libraryName":"Deep","x":)";
  for (int i = 2; i <= levels; ++i) doc += (i % 2 == 0) ? "[" : R"({"k":)";
  doc += "0";
  for (int i = levels; i >= 2; --i) doc += (i % 2 == 0) ? "]" : "}";
  return doc + "}";
}

// On a stack as small as a dispatch queue's thread gets: nesting is bounded,
// and deeper documents are unreadable.
TEST_F(PublishedDocuments, ReadsTheTopLevelStringsOfAWholeObjectOnly) {
  // Long escaped keys and strings reach the reader in several pieces.
  std::string escapedPath, path;
  for (int i = 0; i < 20000; ++i) escapedPath += R"(\/\u00e9)", path += "/\xC3\xA9";
  struct Case {
    std::string bytes;
    std::optional<std::string> name, path;
  };
  const Case cases[] = {
      {R"({"libraryName":"Business","libraryPath":"\/Users\/me\/Business","items":[1,{"a":null}]})",
       "Business", "/Users/me/Business"},
      {R"(  {"libraryPath":"caf\u00e9"}  )", std::nullopt, "caf\xC3\xA9"},
      {R"({"libraryName":5,"libraryPath":["/x"]})", std::nullopt, std::nullopt},
      {R"({"nested":{"libraryName":"Inner","libraryPath":"/inner"}})", std::nullopt, std::nullopt},
      {R"({"libraryName":"first","libraryName":"last"})", "last", std::nullopt},
      {nestedDocument(512), "Deep", std::nullopt},
      {R"({"big":")" + escapedPath + R"(","library\u004eame":"N","libraryPath":")" + escapedPath +
           R"(","libraryPath\u0000":1})",
       "N", path},
  };
  testing::onSmallStack([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.bytes.substr(0, 80));
      const auto info = readPublishedDocument(writeEntry("doc.json", c.bytes));
      ASSERT_TRUE(info);
      EXPECT_EQ(std::pair(info->libraryName, info->libraryPath), std::pair(c.name, c.path));
    }
    // Anything but a whole JSON object is unreadable.
    for (const std::string& bytes :
         {""s, "[]"s, R"(["libraryName"])"s, R"("libraryName")"s, "12"s, R"({"libraryName":"a")"s,
          R"({"libraryName":"a"} {})"s, R"({"libraryName":"a"} x)"s, "{\"libraryName\":\"\xFF\"}"s,
          "{'libraryName':'a'}"s, nestedDocument(513), nestedDocument(100000)})
      EXPECT_FALSE(readPublishedDocument(writeEntry("doc.json", bytes))) << bytes.substr(0, 80);
  });

  EXPECT_FALSE(readPublishedDocument(home.makeFolder(docsRelative("folder.json"))).has_value());
}

using NameConflicts = LibraryFixture;

TEST_F(NameConflicts, OnlyAnotherExistingFolderConflicts) {
  const fs::path target = docs() / "business-eur.json";
  const std::string first = home.makeFolder("Ledgers/Business").string();
  const std::string second = home.makeFolder("Archive/Business").string();
  const std::string gone = (home.path() / "Gone/Business").string();
  const std::string aFile = home.writeFile("Ledgers/file-not-folder", "x").string();
  const std::string decomposed = home.makeFolder("Ledgers/Cafe\xCC\x81").string();
  const std::string composed = (home.path() / "Ledgers/Caf\xC3\xA9").string();

  struct Case {
    const char* what;
    std::string document;  // the target's bytes
    std::string newPath;
    std::optional<std::string> expected;
    std::string newName = "Business";
  };
  const auto doc = [](boost::json::value_ref name, boost::json::value_ref path) {
    return boost::json::serialize(boost::json::object{{"libraryName", name}, {"libraryPath", path}});
  };
  const Case cases[] = {
      {"another existing file", doc("Business", aFile), second, aFile},
      {"names differing in case", doc("business", first), second, first},
      {"no folder of our own", doc("Business", first), "", std::nullopt},
      {"a trailing slash is another spelling", doc("Business", first + "/"), first, first + "/"},
      {"canonically equal spellings", doc("Caf\xC3\xA9", decomposed), composed, std::nullopt},
      // Without a folder of its own, the names tell the libraries apart.
      {"no folder, another library without a folder", doc("Other", ""), "", "Other"},
      {"no folder, another library whose folder is gone", doc("Other", gone), "", std::nullopt},
      {"no folder, a canonically equal name", doc("Cafe\xCC\x81", ""), "", std::nullopt, "Caf\xC3\xA9"},
      {"no folder, no name in the document", R"({"libraryPath":""})", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeEntry(target.filename(), c.document);
    EXPECT_EQ(conflictingLibrary(target, c.newPath, c.newName), c.expected);
  }

  fs::remove(target);
  home.makeFolder(docsRelative(target.filename()));  // a folder where the document should be
  EXPECT_FALSE(conflictingLibrary(target, second, "Business") || conflictingLibrary(target, "", "Other"));
}

// A currency-named pair replaces a currency-named pair of the same currency
// or its own library's document, never another library's own document.
TEST_F(NameConflicts, ACurrencyPairNeverReplacesAnotherLibrarysOwnDocument) {
  const fs::path target = docs() / "home-eur.json";
  EXPECT_TRUE(mayWriteCurrencyPair(target, "Zed"));  // nothing there
  const std::pair<std::string, bool> cases[] = {
      {R"({"libraryName":"Home EUR","currencyCode":"EUR"})", false},
      {R"({"libraryName":"Other","currencyCode":"HOME-EUR"})", true},
      {R"({"libraryName":"Zed","currencyCode":"EUR"})", true},
      {R"({"currencyCode":"EUR"})", true},
  };
  for (const auto& [document, mayWrite] : cases) {
    writeEntry(target.filename(), document);
    EXPECT_EQ(mayWriteCurrencyPair(target, "Zed"), mayWrite) << document;
  }
}

using Pruning = LibraryFixture;

// The four rows of the pruning table in one pass, in the order of the names.
TEST_F(Pruning, EachRowOfTheTable) {
  const std::string gone = (home.path() / "Ledgers/Gone").string();
  const std::string existing = home.makeFolder("Ledgers/Existing").string();
  // Switched on: stays whatever its path, and is not even recovered.
  defaults.setBool("sync_library_On", true);
  publish("on-eur.json", "On", gone);
  // Disabled with an unknown path: forgotten without touching files.
  defaults.setBool("sync_library_Old", false);
  defaults.setString("library_path_Old", "");
  defaults.setString("library_filename_Old", "old-eur.json");
  publish("old-eur.json", "Someone else", "");
  publish("old.JSON", "Old", existing);  // not a published document: another ending
  // Switched off without a path record: the path is recovered from its
  // document and kept, and as that folder exists, the library stays; its
  // document goes all the same (a switch-off another home stored, or one
  // ended before it deleted). A library never answered keeps its document.
  defaults.setBool("sync_library_Kept", false);
  defaults.setString("library_filename_Kept", "kept-eur.json");
  publish("kept-eur.json", "Kept", existing);
  defaults.setString("sync_library_Typo", "true");
  defaults.setString("library_path_Typo", existing);
  publish("typo-eur.json", "Typo", existing);
  // Orphaned: its recorded folder is gone (nothing recovered), so its pair is
  // deleted by its record (not by scan: the keys go last), then its keys go.
  defaults.setBool("sync_library_Trip", false);
  defaults.setString("library_path_Trip", gone);
  defaults.setString("library_filename_Trip", "trip-chf.json");
  publish("trip-chf.json", "Trip", gone);

  EXPECT_TRUE(pruneLibraries(context));
  // The "Pruned" lines follow the pass's one settings change.
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Recovered path for 'Kept': " + existing,
                                       "[Helper] Deleted iCloud files: kept-eur.json, kept-eur_updated.txt",
                                       "[Helper] Deleted iCloud files: trip-chf.json, trip-chf_updated.txt",
                                       "[Helper] Pruned disabled library 'Old' (path unknown, JSON already "
                                       "deleted)",
                                       "[Helper] Pruned orphaned library 'Trip' (path no longer exists)"));
  EXPECT_EQ(defaults.keys(),
            (std::vector<std::string>{"library_filename_Kept", "library_path_Kept", "library_path_Typo",
                                      "sync_library_Kept", "sync_library_On", "sync_library_Typo"}));
  for (const char* kept : {"on-eur.json", "on-eur_updated.txt", "old-eur.json", "typo-eur.json"})
    EXPECT_TRUE(hasEntry(kept)) << kept;
  EXPECT_FALSE(hasEntry("trip-chf.json") || hasEntry("trip-chf_updated.txt") || hasEntry("kept-eur.json"));
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

// A file-name record that is empty or not a plain name inside the container
// Documents folder is treated like a missing record: nothing outside is
// touched (every removal is logged) and the library's own document is found
// by scan instead, under a canonically equal name, never under another case
// or ending.
TEST_F(Deletion, AFileNameRecordNeverReachesOutsideTheFolder) {
  const fs::path container = "Library/Mobile Documents/iCloud~test~quillory~mobile";
  publish("lower.json", "caf\xC3\xA9", "/d");
  publish("upper.JSON", "Cafe\xCC\x81", "/c");
  for (const std::string& record :
       {""s, "../victim.json"s, "a/b.json"s, ".."s, "."s, "/victim.json"s, "victim.json\0/../x.json"s}) {
    SCOPED_TRACE(record);
    log.clear();
    for (const char* file : {"victim.json", "victim_updated.txt"}) home.writeFile(container / file, "t");
    for (const char* file : {"a/b.json", "a/b_updated.txt"}) writeEntry(file, "t");
    writeEntry("victim.json", R"({"libraryName":"Someone else"})");
    publish("lib-eur.json", "Cafe\xCC\x81", "/Users/me/Lib");
    defaults.setString("library_filename_Caf\xC3\xA9", record);

    deleteLibraryFiles(context, "Caf\xC3\xA9");
    EXPECT_TRUE(fs::is_directory(docs()));
    EXPECT_THAT(log.lines(), ElementsAre("[Helper] Deleted iCloud files: lib-eur.json, lib-eur_updated.txt",
                                         "[Helper] Deleted iCloud files (by scan): lib-eur.json"));
  }
}

}  // namespace
}  // namespace quillory::libraries::test
