#include <gtest/gtest.h>
#include <pthread.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <random>

#include "platform/Unicode.h"
#include "publish/Derivations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"
#include "support/FakeClock.h"

namespace quillory::publish {
namespace {

namespace json = boost::json;

const std::set<std::string> kKeep(kKeptItemFields.begin(), kKeptItemFields.end());

std::string nestedExport(std::size_t depth) {
  return R"({"items":[{"id":1,"notes":)" + std::string(depth, '[') + std::string(depth, ']') + "}]}";
}

// Runs the work on a thread with a stack as small as a dispatch queue's
// worker thread gets on macOS (512 KB).
template <typename Work>
void onSmallStack(Work work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 512 * 1024);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    (*static_cast<Work*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(DocumentTransform, DeepExportsFitASmallStack) {
  testing::FakeClock clock;
  std::optional<ExportErrorCode> deepest;
  std::size_t acceptedSize = 0;
  onSmallStack([&] {
    acceptedSize =
        prepareExport(nestedExport(kMaxExportDepth - 3), std::nullopt, kKeep, clock).documentBytes.size();
    try {
      prepareExport(nestedExport(kMaxExportDepth - 2), std::nullopt, kKeep, clock);
    } catch (const ExportError& error) {
      deepest = error.code();
    }
  });
  EXPECT_GT(acceptedSize, 2 * (kMaxExportDepth - 3));
  EXPECT_EQ(deepest, ExportErrorCode::parseFailure);
}

TEST(DocumentTransform, DuplicateMembersKeepTheLastValue) {
  testing::FakeClock clock;
  const PreparedExport prepared = prepareExport(
      R"({"items":[{"id":1}],"v":1,"v":2,"items":[{"id":2,"id":3,"x":1,"amounts":{"currency":"GBP"}}]})",
      std::nullopt, kKeep, clock);
  const json::object document = json::parse(prepared.documentBytes).as_object();
  EXPECT_EQ(document.at("v"), 2);
  EXPECT_EQ(document.at("items"), json::parse(R"([{"id":3,"amounts":{"currency":"GBP"}}])"));
  EXPECT_EQ(prepared.libraryFilename, "receipts-gbp");
}

// The published document as the rules describe it, built from a parsed
// export with the derivation functions; none when the export is refused.
std::optional<json::value> referenceDocument(std::string_view text, const std::optional<std::string>& name) {
  std::error_code error;
  json::value root = json::parse(text, error);
  if (error || !root.is_object()) return std::nullopt;
  json::object document = root.get_object();
  const json::value* items = document.if_contains("items");
  if (items == nullptr || !items->is_array() || items->get_array().empty()) return std::nullopt;
  json::array filtered;
  for (const json::value& item : items->get_array()) {
    if (!item.is_object()) return std::nullopt;
    filtered.push_back(filterItem(item.get_object(), kKeep));
  }
  const std::string path = libraryPathFromItems(items->get_array()).value_or("");
  const std::optional<std::string> libraryName = name ? name : libraryNameFromPath(path);
  std::optional<std::string> currency = currencyFromName(libraryName);
  if (!currency) currency = currencyFromItems(items->get_array());
  const std::string token = currency.value_or("export");
  document["libraryName"] = libraryName.value_or(libraryFilename(libraryName.value_or(token), token));
  document["currencyCode"] = platform::upperCased(token);
  document["exportedAt"] = "2026-12-05T09:00:00Z";
  document["libraryPath"] = path;
  document["items"] = std::move(filtered);
  return json::value(std::move(document));
}

// Random exports over a small vocabulary of member names, so that kept and
// dropped members, asset paths, currencies and nesting meet in many ways.
class RandomExport {
 public:
  explicit RandomExport(unsigned seed) : random_(seed) {}

  std::string next() {
    json::object root;
    for (int i = pick(4); i > 0; --i) root[key()] = value(2);
    json::array items;
    for (int i = pick(5); i > 0; --i) items.push_back(pick(20) == 0 ? value(1) : json::value(item()));
    root["items"] = pick(10) > 0 ? json::value(std::move(items)) : value(2);
    return json::serialize(root);
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  template <std::size_t N>
  const char* oneOf(const char* const (&choices)[N]) {
    return choices[pick(N)];
  }
  std::string key() {
    static const char* const kKeys[] = {
        "id",       "title",   "Tags",        "tags",  "asset",   "path", "amounts", "amountsOriginal",
        "currency", "ocrText", "libraryName", "items", "n\u00e9", "a/b",  ""};
    return oneOf(kKeys);
  }
  json::object item() {
    static const char* const kPaths[] = {"/Users/a/Lib CHF/assets/x.jpg", "/assets/y.jpg", "/U/b/Assets/z",
                                         "rel/assets/", "/V/\u00fcber/assets/a/assets/b"};
    static const char* const kCurrencies[] = {"EUR", "", "usd", "\u20ac", "../x", "Stra\u00dfe"};
    json::object item;
    for (int i = pick(7); i > 0; --i) item[key()] = value(3);
    if (pick(3) == 0) item["asset"] = json::object{{"path", oneOf(kPaths)}};
    if (pick(3) == 0)
      item[pick(2) ? "amounts" : "amountsOriginal"] = json::object{{"currency", oneOf(kCurrencies)}};
    return item;
  }
  json::value value(int depth) {
    static const char* const kScalars[] = {"null",
                                           "true",
                                           "-713",
                                           "12.25",
                                           "18446744073709551615",
                                           R"("/Users/a/L/assets/x")",
                                           R"("q\"\\\n\t\u0001/\u2028")"};
    const int choice = pick(depth > 0 ? 9 : 7);
    if (choice < 7) return json::parse(kScalars[choice]);
    json::value container = choice == 7 ? json::value(json::array()) : json::value(json::object());
    for (int i = pick(4); i > 0; --i) {
      if (container.is_array()) {
        container.get_array().push_back(value(depth - 1));
      } else {
        container.get_object()[key()] = value(depth - 1);
      }
    }
    return container;
  }
  std::mt19937 random_;
};

TEST(DocumentTransform, AgreesWithTheRulesOnRandomExports) {
  testing::FakeClock clock;
  RandomExport exports(7);
  int published = 0;
  for (int round = 0; round < 2000; ++round) {
    const std::string text = exports.next();
    const std::optional<std::string> name =
        round % 3 == 0 ? std::optional<std::string>("Trip GBP") : std::nullopt;
    const std::optional<json::value> expected = referenceDocument(text, name);
    std::optional<json::value> actual;
    try {
      actual = json::parse(prepareExport(text, name, kKeep, clock).documentBytes);
    } catch (const ExportError&) {
    }
    ASSERT_EQ(actual, expected) << text;
    if (actual) ++published;
  }
  EXPECT_GT(published, 1000);
}

}  // namespace
}  // namespace quillory::publish
