#pragma once
// Whether a published file, as a reader of the container sees it, is whole.

#include <boost/json/parse.hpp>
#include <string>

#include "platform/Iso8601.h"

namespace quillory::testing {

// One timestamp, as a marker file holds it.
inline bool isCompleteMarker(const std::string& bytes) { return platform::parseIso8601(bytes).has_value(); }

// One JSON object with the members every document has: "items" (an array),
// "libraryName", "libraryPath" and "exportedAt" (a timestamp).
inline bool isCompleteDocument(const std::string& bytes) {
  boost::json::parse_options options;
  options.max_depth = 1024;
  std::error_code ec;
  const boost::json::value value = boost::json::parse(bytes, ec, {}, options);
  if (ec || !value.is_object()) return false;
  const boost::json::object& object = value.get_object();
  const boost::json::value* items = object.if_contains("items");
  const boost::json::value* name = object.if_contains("libraryName");
  const boost::json::value* path = object.if_contains("libraryPath");
  const boost::json::value* exportedAt = object.if_contains("exportedAt");
  return items && items->is_array() && name && name->is_string() && path && path->is_string() && exportedAt &&
         exportedAt->is_string() && isCompleteMarker(std::string(exportedAt->get_string()));
}

}  // namespace quillory::testing
