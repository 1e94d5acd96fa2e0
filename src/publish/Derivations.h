#pragma once
// What the helper derives from an export: the library's folder, its
// currency and the file name it is published under. The transform walks the
// items (the first item whose asset path names an "/assets/" folder; the
// original amounts of all items before the amounts) and asks these for the
// rules on the values it finds.
//
// Pure functions without side effects; any thread.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quillory::publish {

// The known currency codes, in their order of precedence.
inline constexpr std::array<std::string_view, 16> kKnownCurrencyCodes = {
    "AUD", "EUR", "USD", "GBP", "CHF", "JPY", "NZD", "CAD",
    "SEK", "NOK", "DKK", "SGD", "HKD", "INR", "BRL", "MXN"};

// The item members kept in the published document.
inline constexpr std::array<std::string_view, 16> kKeptItemFields = {
    "id",    "date",     "datePayment", "contact", "category",    "amounts",  "amountsOriginal", "tags",
    "notes", "isCredit", "isDocument",  "isPaid",  "isConfirmed", "isMarked", "asset",           "title"};

inline constexpr std::string_view kFallbackBaseName = "receipts";
// The currency token when neither the name nor the items give one.
inline constexpr std::string_view kNoCurrencyToken = "export";

// The part of an asset path before its first "/assets/", or none.
std::optional<std::string> libraryPathFromAssetPath(std::string_view assetPath);

// The first known currency code (in order of precedence) contained anywhere
// in the upper-cased name, lower-cased.
std::optional<std::string> currencyFromName(const std::optional<std::string>& name);

// A currency as the items give it: none when empty, else lower-cased.
std::optional<std::string> currencyFromItemText(std::string_view currency);

// The currency token as it may appear in a file name: without "/", so that a
// token taken from the items can never name a file outside the destination
// folder, and without control and bidirectional formatting characters
// (`platform::withoutControlCharacters`), as the name part is, so that a
// name never breaks a line or shows reversed. A result that would be empty,
// "." or ".." becomes "export". Ordinary tokens ("eur", "€") come out unchanged.
std::string currencyFileComponent(std::string_view token);

// The longest base file name in bytes: with "_updated.txt", the longest
// ending it gets, it still fits the 255 bytes of a file name.
inline constexpr std::size_t kLongestBaseName = 255 - 12;

// The base file name for a library name and currency token, for example
// "Business EUR" + "eur" gives "business-eur". Never empty, never longer
// than `kLongestBaseName`: a longer name is cut at the end of a whole
// character (a longer currency part as well, when it alone is too long).
// The currency part is lower-cased and passed through `currencyFileComponent`.
// The one rule for every place that writes, tests or deletes a library's
// document: they all take the name from here or from the record of it.
std::string libraryFilename(std::string_view name, std::string_view currency);

// The base name of the currency-named pair ("eur" for eur.json and
// eur_updated.txt): the currency token itself when it makes a plain file
// name as the library filename's name part would, that is when it is not
// empty, not longer than `kLongestBaseName` and made only of letters, marks,
// numbers, "-" and "_"; none otherwise (a control character, a line break,
// a "/", a "."): then no currency-named pair is written.
std::optional<std::string> currencyPairName(std::string_view token);

// The library's name from its folder: the last path component, ignoring
// trailing slashes; none when there is no such component ("", "/").
std::optional<std::string> libraryNameFromPath(std::string_view libraryPath);

}  // namespace quillory::publish
