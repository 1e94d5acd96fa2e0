#include <gtest/gtest.h>

#include "LibraryFixture.h"
#include "libraries/PublishedDocuments.h"
#include "support/SmallStack.h"

namespace quillory::libraries::test {
namespace {

using Info = std::optional<PublishedDocumentInfo>;

class PublishedDocuments : public LibraryFixture {
 protected:
  Info read(std::string_view bytes) const { return readPublishedDocument(writeEntry("doc.json", bytes)); }
};

TEST_F(PublishedDocuments, ReadsTheTopLevelStringsOfAWholeObjectOnly) {
  struct Case {
    const char* bytes;
    std::optional<std::string> name;
    std::optional<std::string> path;
  };
  const Case cases[] = {
      {R"({"libraryName":"Business","libraryPath":"\/Users\/me\/Business","items":[1,{"a":null}]})",
       "Business", "/Users/me/Business"},
      {R"(  {"libraryPath":"caf\u00e9"}  )", std::nullopt, "caf\xC3\xA9"},
      {R"({"libraryName":5,"libraryPath":["/x"]})", std::nullopt, std::nullopt},
      {R"({"nested":{"libraryName":"Inner","libraryPath":"/inner"}})", std::nullopt, std::nullopt},
      {R"({"libraryName":"first","libraryName":"last"})", "last", std::nullopt},
      {R"({"libraryName":"","libraryPath":""})", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    const Info info = read(c.bytes);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->libraryName, c.name);
    EXPECT_EQ(info->libraryPath, c.path);
  }

  // Long escaped keys and strings reach the reader in several pieces.
  std::string escapedPath, path;
  for (int i = 0; i < 20000; ++i) escapedPath += R"(\/\u00e9)", path += "/\xC3\xA9";
  const Info info = read(R"({"big":")" + escapedPath + R"(","library\u004eame":"N","libraryPath":")" +
                         escapedPath + R"(","libraryPath\u0000":1})");
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->libraryName, "N");
  EXPECT_EQ(info->libraryPath, path);

  // Anything but a whole JSON object is unreadable.
  for (const char* bytes : {"", "[]", R"(["libraryName"])", R"("libraryName")", "12", "null",
                            R"({"libraryName":"a")", R"({"libraryName":"a"} {})", R"({"libraryName":"a"} x)",
                            "{\"libraryName\":\"\xFF\"}", "{'libraryName':'a'}"}) {
    EXPECT_FALSE(read(bytes).has_value()) << bytes;
  }
  EXPECT_FALSE(readPublishedDocument(docs() / "missing.json").has_value());
  EXPECT_FALSE(readPublishedDocument(home.makeFolder(docsRelative("folder.json"))).has_value());
}

// `levels` nested containers, the outermost an object with a libraryName.
std::string nestedDocument(int levels) {
  std::string doc = R"({"libraryName":"Deep","x":)";
  for (int i = 2; i <= levels; ++i) doc += (i % 2 == 0) ? "[" : R"({"k":)";
  doc += "0";
  for (int i = levels; i >= 2; --i) doc += (i % 2 == 0) ? "]" : "}";
  return doc + "}";
}

TEST_F(PublishedDocuments, NestingIsBoundedAndDeeperDocumentsAreUnreadable) {
  const fs::path deep512 = writeEntry("512.json", nestedDocument(512));
  const fs::path deep513 = writeEntry("513.json", nestedDocument(513));
  const fs::path deep100k = writeEntry("100k.json", nestedDocument(100000));
  testing::onSmallStack([&] {
    const Info accepted = readPublishedDocument(deep512);
    EXPECT_TRUE(accepted.has_value() && accepted->libraryName == "Deep");
    EXPECT_FALSE(readPublishedDocument(deep513).has_value());
    EXPECT_FALSE(readPublishedDocument(deep100k).has_value());
  });
}

}  // namespace
}  // namespace quillory::libraries::test
