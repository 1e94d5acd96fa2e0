#include "support/PublishedFiles.h"

#include <boost/json/parse.hpp>

#include "platform/Iso8601.h"

namespace quillory::testing {

namespace json = boost::json;

bool isCompleteDocument(const std::string& bytes) {
  json::parse_options options;
  options.max_depth = 1024;
  std::error_code ec;
  const json::value value = json::parse(bytes, ec, {}, options);
  if (ec || !value.is_object()) return false;
  const json::object& object = value.get_object();
  const json::value* items = object.if_contains("items");
  const json::value* name = object.if_contains("libraryName");
  const json::value* path = object.if_contains("libraryPath");
  const json::value* exportedAt = object.if_contains("exportedAt");
  return items && items->is_array() && name && name->is_string() && path && path->is_string() && exportedAt &&
         exportedAt->is_string() && isCompleteMarker(std::string(exportedAt->get_string()));
}

bool isCompleteMarker(const std::string& bytes) { return platform::parseIso8601(bytes).has_value(); }

}  // namespace quillory::testing
