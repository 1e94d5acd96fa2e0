#include <gtest/gtest.h>

#include "publish/Derivations.h"

namespace quillory::publish {
namespace {

struct FilenameCase {
  std::string name;
  std::string currency;
  std::string expected;
};

TEST(LibraryFilename, BuildsTheBaseName) {
  const FilenameCase cases[] = {{"Business EUR", "eur", "business-eur"},
                                {"Firma_sek", "sek", "firma-sek"},
                                {"EUR Business", "eur", "eur-business-eur"},
                                {"Home & Garden", "chf", "home--garden-chf"},
                                {"Caf\u00e9.Privat", "eur", "caf\u00e9privat-eur"},
                                {"EUR", "eur", "receipts-eur"},
                                {"chf", "chf", "receipts-chf"},
                                {"export", "export", "receipts-export"},
                                {"---", "usd", "receipts-usd"},
                                // Only one suffix is removed, and only after trimming.
                                {"Trip EUR EUR", "eur", "trip-eur-eur"},
                                {"_Reise-EUR_", "EUR", "reise-eur"},
                                // Full case mapping and the file-name character filter.
                                {"Stra\u00dfe \u20ac", "\u20ac", "stra\u00dfe-\u20ac"},
                                {"a\tb/c", "gbp", "abc-gbp"},
                                // A currency token from the items never leaves the folder:
                                // no "/" or NUL, never "." or "..".
                                {"Home", "../../x", "home-....x"},
                                {"", std::string("e\0u/r", 5), "receipts-eur"},
                                {"", "/", "receipts-export"},
                                {"", ".", "receipts-export"},
                                {"", "..", "receipts-export"},
                                {"", "...", "receipts-..."}};
  for (const FilenameCase& c : cases) EXPECT_EQ(libraryFilename(c.name, c.currency), c.expected) << c.name;
}

TEST(CurrencyFromName, FirstKnownCodeInListOrderWins) {
  EXPECT_EQ(currencyFromName("Trip to CHF and GBP"), "gbp");
  EXPECT_EQ(currencyFromName("Haus Mausdorf"), "usd");
  EXPECT_EQ(currencyFromName("business eur"), "eur");
  EXPECT_EQ(currencyFromName("AUD EUR"), "aud");
  EXPECT_EQ(currencyFromName("Household"), std::nullopt);
  EXPECT_EQ(currencyFromName(std::nullopt), std::nullopt);
}

TEST(LibraryNameFromPath, IsTheLastComponent) {
  EXPECT_EQ(libraryNameFromPath("/Users/a/Libraries/Home"), "Home");
  EXPECT_EQ(libraryNameFromPath("/Volumes/D/Biz/"), "Biz");
  EXPECT_EQ(libraryNameFromPath("Relative"), "Relative");
  EXPECT_EQ(libraryNameFromPath("/"), std::nullopt);
  EXPECT_EQ(libraryNameFromPath(""), std::nullopt);
}

}  // namespace
}  // namespace quillory::publish
