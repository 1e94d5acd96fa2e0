#include "publish/DocumentTransform.h"

#include <array>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parse.hpp>
#include <unordered_set>

#include "platform/Clock.h"
#include "platform/Iso8601.h"
#include "platform/Unicode.h"
#include "publish/Derivations.h"
#include "publish/ExportError.h"
#include "publish/JsonWriter.h"

namespace quillory::publish {
namespace {

namespace json = boost::json;

// Top-level members the helper sets itself; the export's own are replaced.
constexpr std::array<std::string_view, 5> kSetMembers = {"items", "libraryName", "currencyCode", "exportedAt",
                                                          "libraryPath"};

bool isSetMember(std::string_view key) {
  for (std::string_view member : kSetMembers) {
    if (key == member) return true;
  }
  return false;
}

void appendMember(std::string& out, std::string_view key, std::string_view value) {
  out += ',';
  appendJsonString(out, key);
  out += ':';
  appendJsonString(out, value);
}

}  // namespace

PreparedExport prepareExport(std::string_view exportText, const std::optional<std::string>& confirmedLibraryName,
                             const std::set<std::string>& keepFields, const platform::Clock& clock) {
  json::monotonic_resource arena;
  json::parse_options options;
  options.max_depth = kMaxExportDepth;
  std::error_code parseError;
  json::value root = json::parse(json::string_view(exportText.data(), exportText.size()), parseError, &arena,
                                 options);
  if (parseError || !root.is_object()) throw ExportError(ExportErrorCode::parseFailure);
  const json::object& exportObject = root.get_object();
  const json::value* itemsValue = exportObject.if_contains("items");
  if (itemsValue == nullptr || !itemsValue->is_array()) throw ExportError(ExportErrorCode::parseFailure);
  const json::array& items = itemsValue->get_array();
  for (const json::value& item : items) {
    if (!item.is_object()) throw ExportError(ExportErrorCode::parseFailure);
  }
  if (items.empty()) throw ExportError(ExportErrorCode::emptyLibrary);

  PreparedExport prepared;
  prepared.libraryPath = libraryPathFromItems(items).value_or("");
  prepared.libraryName =
      confirmedLibraryName ? confirmedLibraryName : libraryNameFromPath(prepared.libraryPath);
  std::optional<std::string> currency = currencyFromName(prepared.libraryName);
  if (!currency) currency = currencyFromItems(items);
  prepared.currencyToken = currency.value_or(std::string(kNoCurrencyToken));
  prepared.currencyFileToken = currencyFileComponent(prepared.currencyToken);
  prepared.libraryFilename =
      libraryFilename(prepared.libraryName.value_or(prepared.currencyToken), prepared.currencyToken);

  const std::unordered_set<std::string_view> kept(keepFields.begin(), keepFields.end());
  std::string& out = prepared.documentBytes;
  out.reserve(exportText.size() / 2);
  out += "{\"items\":[";
  bool firstItem = true;
  for (const json::value& item : items) {
    out += firstItem ? "{" : ",{";
    firstItem = false;
    bool firstMember = true;
    for (const json::key_value_pair& member : item.get_object()) {
      const std::string_view key(member.key());
      if (kept.count(key) == 0) continue;
      if (!firstMember) out += ',';
      firstMember = false;
      appendJsonString(out, key);
      out += ':';
      appendJson(out, member.value());
    }
    out += '}';
  }
  out += ']';
  for (const json::key_value_pair& member : exportObject) {
    const std::string_view key(member.key());
    if (isSetMember(key)) continue;
    out += ',';
    appendJsonString(out, key);
    out += ':';
    appendJson(out, member.value());
  }
  appendMember(out, "libraryName", prepared.libraryName.value_or(prepared.libraryFilename));
  appendMember(out, "currencyCode", platform::upperCased(prepared.currencyToken));
  appendMember(out, "exportedAt", platform::formatIso8601(clock.now()));
  appendMember(out, "libraryPath", prepared.libraryPath);
  out += '}';

  prepared.markerBytes = platform::formatIso8601(clock.now());
  return prepared;
}

}  // namespace quillory::publish
