#include <gtest/gtest.h>

#include "LibraryFixture.h"
#include "libraries/LibraryRecords.h"

namespace quillory::libraries::test {
namespace {

using ::testing::ElementsAre;

using LibraryRecords = LibraryFixture;

TEST_F(LibraryRecords, RecordsTheFileNameAlwaysAndThePathWhenKnown) {
  recordPublishedLibrary(defaults, "No folder", "no-folder-eur.json", "");
  EXPECT_EQ(defaults.value("library_filename_No folder").asString(), "no-folder-eur.json");
  EXPECT_TRUE(defaults.value("library_path_No folder").isAbsent());

  recordPublishedLibrary(defaults, "a/b. c", "a-b-c-eur.json", "/Users/me/a");
  EXPECT_EQ(defaults.value("library_filename_a/b. c").asString(), "a-b-c-eur.json");
  EXPECT_EQ(defaults.value("library_path_a/b. c").asString(), "/Users/me/a");
}

TEST_F(LibraryRecords, RecoveryTakesTheFirstDocumentWithAUsablePath) {
  // Whatever the listing order, only one of these names the library with a usable path.
  publish("empty-path.json", "Lib", "");
  publish("numeric-path.json", "Lib", 42);
  publish("other-library.json", "Library", "/other");
  publish("upper-case.JSON", "Lib", "/wrong-ending");
  writeEntry("broken.json", R"({"libraryName":"Lib","libraryPath":"/broken")");
  publish("good.json", "Lib", "/Users/me/Lib");

  EXPECT_EQ(recoverLibraryPath(context, "Lib"), "/Users/me/Lib");
  EXPECT_EQ(defaults.value("library_path_Lib").asString(), "/Users/me/Lib");
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Recovered path for 'Lib': /Users/me/Lib"));
}

TEST_F(LibraryRecords, RecoveryComparesNamesUnderCanonicalEquivalenceOnly) {
  publish("decomposed.json", "Cafe\xCC\x81", "/Users/me/Cafe");
  publish("lower.json", "caf\xC3\xA9", "/Users/me/lower");
  EXPECT_EQ(recoverLibraryPath(context, "Caf\xC3\xA9"), "/Users/me/Cafe");
  EXPECT_EQ(recoverLibraryPath(context, " Caf\xC3\xA9"), std::nullopt);
}

TEST_F(LibraryRecords, RecoveryWithoutAUsablePathStoresAndPrintsNothing) {
  publish("numeric-path.json", "Lib", 42);
  EXPECT_EQ(recoverLibraryPath(context, "Lib"), std::nullopt);
  EXPECT_EQ(recoverLibraryPath(context, "Unknown"), std::nullopt);
  fs::remove_all(docs());
  EXPECT_EQ(recoverLibraryPath(context, "Lib"), std::nullopt);
  EXPECT_TRUE(defaults.keys().empty());
  EXPECT_EQ(log.size(), 0u);
}

}  // namespace
}  // namespace quillory::libraries::test
