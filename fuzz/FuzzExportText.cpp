// Fuzzes the export pipeline's input: the text the export script printed,
// turned into the published document (prepareExport) or refused with an
// ExportError.
//
// Also: the transform fed in small pieces ends exactly as on the whole text.
//
// Input: the export text; or "N" + a library name + "\n" + the export text,
// to have a confirmed library name as well (used only when it is valid UTF-8,
// as the script runner hands over nothing else).
//
// Properties checked on every accepted export: the document is one JSON
// object that parses again; its items are the export's items, in order,
// reduced to the kept fields with their values unchanged (numbers compared by
// their literal: the document copies each number's text, so every value stays
// exact); "libraryName", "currencyCode", "exportedAt" and "libraryPath" are
// strings; the marker is the clock's timestamp; both file names are plain
// names that stay inside a destination folder.

#include <algorithm>
#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value.hpp>
#include <boost/json/value_stack.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/Iso8601.h"
#include "platform/Unicode.h"
#include "publish/ContainerPaths.h"
#include "publish/Derivations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"
#include "publish/JsonWriter.h"

namespace {

namespace json = boost::json;
using namespace quillory;

// Parses JSON text into a value whose numbers are kept as their literal
// text (a string marked with a leading '#'; real strings get a leading '"'),
// so that values compare exactly, whatever their size or precision.
class LiteralHandler {
 public:
  static constexpr std::size_t max_object_size = json::object::max_size();
  static constexpr std::size_t max_array_size = json::array::max_size();
  static constexpr std::size_t max_key_size = json::string::max_size();
  static constexpr std::size_t max_string_size = json::string::max_size();

  json::value_stack stack;

  bool on_document_begin(json::error_code&) {
    stack.reset();
    return true;
  }
  bool on_document_end(json::error_code&) { return true; }
  bool on_object_begin(json::error_code&) { return true; }
  bool on_object_end(std::size_t n, json::error_code&) {
    stack.push_object(n);
    return true;
  }
  bool on_array_begin(json::error_code&) { return true; }
  bool on_array_end(std::size_t n, json::error_code&) {
    stack.push_array(n);
    return true;
  }
  bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
    stack.push_chars(s);
    return true;
  }
  bool on_key(json::string_view s, std::size_t, json::error_code&) {
    stack.push_key(s);
    return true;
  }
  bool on_string_part(json::string_view s, std::size_t n, json::error_code&) {
    if (n == s.size()) stack.push_chars("\"");
    stack.push_chars(s);
    return true;
  }
  bool on_string(json::string_view s, std::size_t n, json::error_code&) {
    if (n == s.size()) stack.push_chars("\"");
    stack.push_string(s);
    return true;
  }
  bool on_number_part(json::string_view s, json::error_code&) {
    number_.append(s.data(), s.size());
    return true;
  }
  bool on_int64(std::int64_t, json::string_view s, json::error_code&) { return number(s); }
  bool on_uint64(std::uint64_t, json::string_view s, json::error_code&) { return number(s); }
  bool on_double(double, json::string_view s, json::error_code&) { return number(s); }
  bool on_bool(bool b, json::error_code&) {
    stack.push_bool(b);
    return true;
  }
  bool on_null(json::error_code&) {
    stack.push_null();
    return true;
  }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }

 private:
  bool number(json::string_view s) {
    number_.append(s.data(), s.size());
    stack.push_string("#" + number_);
    number_.clear();
    return true;
  }
  std::string number_;
};

// The text with every lone UTF-16 surrogate escape ("\ud83d" without its
// other half) replaced by "\ufffd": the export may hold them (the helper takes
// them, and writes them back as they were), while the parser refuses them.
std::string withoutLoneSurrogates(std::string_view text) {
  const auto unit = [&](std::size_t at) -> long {
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
    const std::string hex(text.substr(at + 2, 4));
    if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return -1;
    return std::stol(hex, nullptr, 16);
  };
  const auto high = [](long u) { return u >= 0xD800 && u <= 0xDBFF; };
  const auto low = [](long u) { return u >= 0xDC00 && u <= 0xDFFF; };
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const long u = unit(i);
    if (high(u) && low(unit(i + 6))) {  // a pair, kept
      out.append(text.substr(i, 12));
      i += 12;
    } else if (high(u) || low(u)) {
      out.append("\\ufffd");
      i += 6;
    } else {  // any other escape is two bytes, so "\\ud83d" is never taken for one
      const std::size_t n = text[i] == '\\' && i + 1 < text.size() ? 2 : 1;
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::optional<json::value> parse(std::string_view raw, std::size_t depth) {
  const std::string text = withoutLoneSurrogates(raw);
  json::parse_options options;
  options.max_depth = depth;
  json::basic_parser<LiteralHandler> parser(options);
  json::error_code ec;
  const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
  if (ec || used != text.size() || !parser.done()) return std::nullopt;
  return parser.handler().stack.release();
}

// Values are equal when they are equal as parsed (a repeated member counts
// with its last value) and their numbers have the same literal.
bool sameJson(const json::value& a, const json::value& b) { return a == b; }

void checkDocument(const json::value& input, const publish::PreparedExport& prepared) {
  const std::string documentText = prepared.documentBytes.str();
  fuzz::setFailureContext(documentText);
  QUILLORY_FUZZ_CHECK(platform::isValidUtf8(documentText));
  const auto document = parse(documentText, publish::kMaxExportDepth + 8);
  QUILLORY_FUZZ_CHECK(document && document->is_object());
  const json::object& out = document->get_object();

  const json::array& inItems = input.get_object().at("items").get_array();
  const json::value* outItems = out.if_contains("items");
  QUILLORY_FUZZ_CHECK(outItems != nullptr && outItems->is_array());
  QUILLORY_FUZZ_CHECK(outItems->get_array().size() == inItems.size());
  for (std::size_t i = 0; i < inItems.size(); ++i) {
    json::object expected;
    for (const auto& member : inItems[i].get_object()) {
      if (std::find(publish::kKeptItemFields.begin(), publish::kKeptItemFields.end(), member.key()) !=
          publish::kKeptItemFields.end()) {
        expected[member.key()] = member.value();
      }
    }
    QUILLORY_FUZZ_CHECK(sameJson(json::value(std::move(expected)), outItems->get_array()[i]));
  }
  for (const char* member : {"libraryName", "currencyCode", "exportedAt", "libraryPath"}) {
    const json::value* value = out.if_contains(member);
    QUILLORY_FUZZ_CHECK(value != nullptr && value->is_string() && value->get_string().starts_with("\""));
  }
  QUILLORY_FUZZ_CHECK(out.at("exportedAt").get_string() == "\"2026-12-05T11:32:21Z");
  QUILLORY_FUZZ_CHECK(out.at("libraryPath").get_string() == "\"" + prepared.libraryPath);
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
  QUILLORY_FUZZ_CHECK(publish::isPlainFileName(prepared.libraryFilename + ".json"));
  QUILLORY_FUZZ_CHECK(publish::isPlainFileName(prepared.libraryFilename + "_updated.txt"));
  // A currency token that would not make a plain file name is never written.
  if (const std::optional<std::string> currencyName = publish::currencyPairName(prepared.currencyFileToken)) {
    QUILLORY_FUZZ_CHECK(publish::isPlainFileName(*currencyName + ".json"));
    QUILLORY_FUZZ_CHECK(publish::isPlainFileName(*currencyName + "_updated.txt"));
  }
}

// What an export ends in, for comparing two ways of running it.
template <typename Prepare>
std::string outcome(Prepare prepare) {
  try {
    const publish::PreparedExport prepared = prepare();
    return prepared.documentBytes.str() + '\n' + prepared.libraryFilename + '\n' + prepared.currencyFileToken;
  } catch (const publish::ExportError& error) {
    return std::string(error.caseName());
  } catch (const publish::JsonWriteError&) {
    return "JsonWriteError";
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const quillory::fuzz::FixedClock clock;

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
    const publish::PreparedExport prepared = publish::prepareExport(text, confirmedName, clock);
    // Accepted: the text must have been a JSON object with a non-empty array
    // of objects under "items".
    const auto input = parse(text, publish::kMaxExportDepth);
    QUILLORY_FUZZ_CHECK(input && input->is_object());
    checkDocument(*input, prepared);
  } catch (const publish::ExportError& error) {
    QUILLORY_FUZZ_CHECK(error.code() == publish::ExportErrorCode::parseFailure ||
                        error.code() == publish::ExportErrorCode::emptyLibrary);
  } catch (const publish::JsonWriteError&) {
    // A value the writer cannot express (the serialisation error, passed on).
  }
  // Fed in pieces of 1 to 7 bytes, as a script's output arrives, and kept in
  // blocks of 13 bytes, the transform ends exactly as it does on the whole
  // text.
  const std::string whole = outcome([&] { return publish::prepareExport(text, confirmedName, clock); });
  const std::string pieces = outcome([&] {
    publish::ExportTransform transform(13);
    for (std::size_t at = 0, step = 1; at < text.size(); at += step, step = step % 7 + 1) {
      transform.write(text.substr(at, step));
    }
    return transform.finish(confirmedName, clock);
  });
  QUILLORY_FUZZ_CHECK(whole == pieces);
  return 0;
}
