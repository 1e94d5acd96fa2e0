// Fuzzes the export pipeline's input: the text the export script printed,
// turned into the published document (prepareExport) or refused with an
// ExportError.
//
// Input: the export text; or "N" + a library name + "\n" + the export text,
// to have a confirmed library name as well (used only when it is valid UTF-8,
// as the script runner hands over nothing else).
//
// Properties checked on every accepted export: the document is one JSON
// object that parses again; its items are the export's items, in order,
// reduced to the kept fields with their values unchanged (numbers compared by
// value, to a few units in the last place); "libraryName", "currencyCode", "exportedAt" and "libraryPath" are
// strings; the marker is the clock's timestamp; both file names are plain
// names that stay inside a destination folder.

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "engine/ExportManager.h"
#include "libraries/ContainerPaths.h"
#include "platform/Iso8601.h"
#include "platform/Unicode.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"
#include "publish/JsonWriter.h"

namespace {

namespace json = boost::json;
using namespace quillory;

std::optional<json::value> parse(std::string_view text, std::size_t depth) {
  json::parse_options options;
  options.max_depth = depth;
  std::error_code ec;
  json::value value = json::parse(json::string_view(text.data(), text.size()), ec, {}, options);
  if (ec) return std::nullopt;
  return value;
}

// Boost.JSON 1.81 reads long decimal numbers without correct rounding, so a
// number written in its shortest exact form can read back one or two units
// in the last place away from the value the export text gave. The writer is
// checked for exactness elsewhere (its tests); here a few units are allowed.
bool closeDoubles(double x, double y) {
  if (x == y || (std::isnan(x) && std::isnan(y))) return true;
  double step = x;
  for (int i = 0; i < 4; ++i) {
    step = std::nextafter(step, y);
    if (step == y) return true;
  }
  return false;
}

// JSON equality where numbers compare by value, whatever their C++ kind.
bool sameJson(const json::value& a, const json::value& b) {
  if (a.is_number() && b.is_number()) {
    if (a.is_double() || b.is_double()) {
      const double x = a.to_number<double>();
      const double y = b.to_number<double>();
      return closeDoubles(x, y);
    }
    if (a.is_int64() && b.is_int64()) return a.get_int64() == b.get_int64();
    if (a.is_uint64() && b.is_uint64()) return a.get_uint64() == b.get_uint64();
    // int64 against uint64: equal only when both are non-negative and equal.
    const bool aSigned = a.is_int64();
    const std::int64_t s = aSigned ? a.get_int64() : b.get_int64();
    const std::uint64_t u = aSigned ? b.get_uint64() : a.get_uint64();
    return s >= 0 && static_cast<std::uint64_t>(s) == u;
  }
  if (a.kind() != b.kind()) return false;
  if (a.is_array()) {
    const auto& x = a.get_array();
    const auto& y = b.get_array();
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (!sameJson(x[i], y[i])) return false;
    }
    return true;
  }
  if (a.is_object()) {
    const auto& x = a.get_object();
    const auto& y = b.get_object();
    if (x.size() != y.size()) return false;
    for (const auto& member : x) {
      const json::value* other = y.if_contains(member.key());
      if (other == nullptr || !sameJson(member.value(), *other)) return false;
    }
    return true;
  }
  return a == b;
}

void checkDocument(const json::value& input, const publish::PreparedExport& prepared,
                   const std::set<std::string>& keepFields) {
  fuzz::setFailureContext(prepared.documentBytes);
  QUILLORY_FUZZ_CHECK(platform::isValidUtf8(prepared.documentBytes));
  const auto document = parse(prepared.documentBytes, publish::kMaxExportDepth + 8);
  QUILLORY_FUZZ_CHECK(document && document->is_object());
  const json::object& out = document->get_object();

  const json::array& inItems = input.get_object().at("items").get_array();
  const json::value* outItems = out.if_contains("items");
  QUILLORY_FUZZ_CHECK(outItems != nullptr && outItems->is_array());
  QUILLORY_FUZZ_CHECK(outItems->get_array().size() == inItems.size());
  for (std::size_t i = 0; i < inItems.size(); ++i) {
    json::object expected;
    for (const auto& member : inItems[i].get_object()) {
      if (keepFields.count(std::string(member.key())) != 0) expected[member.key()] = member.value();
    }
    QUILLORY_FUZZ_CHECK(sameJson(json::value(std::move(expected)), outItems->get_array()[i]));
  }
  for (const char* member : {"libraryName", "currencyCode", "exportedAt", "libraryPath"}) {
    const json::value* value = out.if_contains(member);
    QUILLORY_FUZZ_CHECK(value != nullptr && value->is_string());
  }
  QUILLORY_FUZZ_CHECK(out.at("exportedAt").get_string() == "2026-12-05T11:32:21Z");
  QUILLORY_FUZZ_CHECK(out.at("libraryPath").get_string() == prepared.libraryPath);
  QUILLORY_FUZZ_CHECK(prepared.markerBytes == "2026-12-05T11:32:21Z");
  // Other top-level members pass through unchanged.
  for (const auto& member : input.get_object()) {
    const std::string_view key = member.key();
    if (key == "items" || key == "libraryName" || key == "currencyCode" || key == "exportedAt" ||
        key == "libraryPath") {
      continue;
    }
    const json::value* copied = out.if_contains(key);
    QUILLORY_FUZZ_CHECK(copied != nullptr && sameJson(member.value(), *copied));
  }

  QUILLORY_FUZZ_CHECK(!prepared.libraryFilename.empty());
  QUILLORY_FUZZ_CHECK(libraries::isPlainFileName(prepared.libraryFilename + ".json"));
  QUILLORY_FUZZ_CHECK(libraries::isPlainFileName(prepared.libraryFilename + "_updated.txt"));
  QUILLORY_FUZZ_CHECK(libraries::isPlainFileName(prepared.currencyFileToken + ".json"));
  QUILLORY_FUZZ_CHECK(libraries::isPlainFileName(prepared.currencyFileToken + "_updated.txt"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const quillory::fuzz::FixedClock clock;
  const std::set<std::string>& keepFields = engine::ExportManager::keepFields();

  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<std::string> confirmedName;
  if (!text.empty() && text.front() == 'N') {
    const auto newline = text.find('\n');
    if (newline == std::string_view::npos) return 0;
    const std::string_view name = text.substr(1, newline - 1);
    if (platform::isValidUtf8(name)) confirmedName = std::string(name);
    text.remove_prefix(newline + 1);
  }

  try {
    const publish::PreparedExport prepared = publish::prepareExport(text, confirmedName, keepFields, clock);
    // Accepted: the text must have been a JSON object with a non-empty array
    // of objects under "items".
    const auto input = parse(text, publish::kMaxExportDepth);
    QUILLORY_FUZZ_CHECK(input && input->is_object());
    checkDocument(*input, prepared, keepFields);
  } catch (const publish::ExportError& error) {
    QUILLORY_FUZZ_CHECK(error.code() == publish::ExportErrorCode::parseFailure ||
                        error.code() == publish::ExportErrorCode::emptyLibrary);
  } catch (const publish::JsonWriteError&) {
    // A value the writer cannot express (the serialisation error, passed on).
  }
  return 0;
}
