#include "LibraryFixture.h"
#include "libraries/NameConflicts.h"

namespace quillory::libraries::test {
namespace {

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
    std::optional<std::string> document;  // the target's bytes; none: no file
    std::string newPath;
    std::optional<std::string> expected;
    std::string newName = "Business";
  };
  const auto doc = [](boost::json::value_ref name, boost::json::value_ref path) {
    return boost::json::serialize(boost::json::object{{"libraryName", name}, {"libraryPath", path}});
  };
  const Case cases[] = {
      {"the same library again", doc("Business", first), first, std::nullopt},
      {"another existing file", doc("Business", aFile), second, aFile},
      {"names differing in case", doc("business", first), second, first},
      {"no folder of our own", doc("Business", first), "", std::nullopt},
      {"nothing at the target", std::nullopt, second, std::nullopt},
      {"not JSON", "{\"libraryPath\":", second, std::nullopt},
      {"no libraryPath", R"({"libraryName":"Business"})", second, std::nullopt},
      {"an empty libraryPath", doc("Business", ""), second, std::nullopt},
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
    fs::remove(target);
    if (c.document) writeEntry(target.filename(), *c.document);
    EXPECT_EQ(conflictingLibrary(target, c.newPath, c.newName), c.expected);
  }

  fs::remove(target);
  home.makeFolder(docsRelative(target.filename()));  // a folder where the document should be
  EXPECT_EQ(conflictingLibrary(target, second, "Business"), std::nullopt);
  EXPECT_EQ(conflictingLibrary(target, "", "Other"), std::nullopt);
}

}  // namespace
}  // namespace quillory::libraries::test
