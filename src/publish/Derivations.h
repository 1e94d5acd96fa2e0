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

// The currency token as it may appear in a file name: without "/" and NUL,
// so that a token taken from the items can never name a file outside the
// destination folder. A result that would be empty, "." or ".." becomes
// "export". Ordinary tokens ("eur", "€") come out unchanged.
std::string currencyFileComponent(std::string_view token);

// The base file name for a library name and currency token, for example
// "Business EUR" + "eur" gives "business-eur". Never empty. The currency part
// is lower-cased and passed through `currencyFileComponent`.
std::string libraryFilename(std::string_view name, std::string_view currency);

// The library's name from its folder: the last path component, ignoring
// trailing slashes; none when there is no such component ("", "/").
std::optional<std::string> libraryNameFromPath(std::string_view libraryPath);

}  // namespace quillory::publish
