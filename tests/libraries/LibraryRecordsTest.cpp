#include "LibraryFixture.h"
#include "libraries/LibraryRecords.h"

namespace quillory::libraries::test {
namespace {

using LibraryRecords = LibraryFixture;

TEST_F(LibraryRecords, RecoveryTakesTheFirstDocumentWithAUsablePath) {
  // Whatever the listing order, only one of these names the library with a usable path.
  publish("empty-path.json", "Lib", "");
  publish("other-library.json", "Library", "/other");
  publish("upper-case.JSON", "Lib", "/wrong-ending");
  EXPECT_EQ(recoverLibraryPath(context, "Lib"), std::nullopt);
  EXPECT_TRUE(defaults.keys().empty());
  EXPECT_EQ(log.size(), 0u);

  publish("good.json", "Lib", "/Users/me/Lib");
  EXPECT_EQ(recoverLibraryPath(context, "Lib"), "/Users/me/Lib");
  EXPECT_EQ(defaults.value("library_path_Lib").asString(), "/Users/me/Lib");
  EXPECT_THAT(log.lines(), ElementsAre("[Helper] Recovered path for 'Lib': /Users/me/Lib"));
}

}  // namespace
}  // namespace quillory::libraries::test
