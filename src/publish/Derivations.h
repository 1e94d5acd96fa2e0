#pragma once
// What the helper derives from an export's items: the library's folder, its
// currency, the file name it is published under, and the reduced items.
//
// Pure functions without side effects; any thread. Items are Boost.JSON
// values; elements that are not objects are passed over.

#include <array>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <optional>
#include <set>
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
// `libraryPathFromAssetPath` of the item's "asset"."path", or none.
std::optional<std::string> libraryPathFromItem(const boost::json::object& item);
// The first item's result of `libraryPathFromItem`, in order.
std::optional<std::string> libraryPathFromItems(const boost::json::array& items);

// The first known currency code (in order of precedence) contained anywhere
// in the upper-cased name, lower-cased.
std::optional<std::string> currencyFromName(const std::optional<std::string>& name);

// A currency as the items give it: none when empty, else lower-cased.
std::optional<std::string> currencyFromItemText(std::string_view currency);
// `currencyFromItemText` of the string "currency" of the item's object member
// `member` ("amountsOriginal" or "amounts").
std::optional<std::string> currencyOfMember(const boost::json::object& item, std::string_view member);
// First pass over "amountsOriginal", then, only if it found nothing, over
// "amounts".
std::optional<std::string> currencyFromItems(const boost::json::array& items);

// Keeps the characters of categories L, M, N and "-" and "_".
std::string sanitizedFileComponent(std::string_view text);

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

// A new object with exactly the item's members named in `keepFields`.
boost::json::object filterItem(const boost::json::object& item, const std::set<std::string>& keepFields);

}  // namespace quillory::publish
