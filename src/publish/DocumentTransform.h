#pragma once
// The pure part of an export: from the host's export text to the published
// document's bytes, its update marker and the names it is published under.
// Touches no file; the benchmark and the tests call it directly.

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace quillory::platform {
class Clock;
}

namespace quillory::publish {

// Exports nested deeper than this are refused as unparsable.
inline constexpr std::size_t kMaxExportDepth = 512;

struct PreparedExport {
  std::string documentBytes;               // compact JSON, UTF-8
  std::string markerBytes;                 // the marker's timestamp, no line end
  std::optional<std::string> libraryName;  // confirmed name, else from the folder
  std::string libraryPath;                 // empty when no item names one
  std::string currencyToken;               // as found, lower-cased ("eur", "export")
  std::string currencyFileToken;           // the token as used in file names
  std::string libraryFilename;             // "business-eur"
};

// Parses the export and builds the published document: the export object
// with "items" reduced to `keepFields` and "libraryName", "currencyCode",
// "exportedAt" and "libraryPath" set; all other top-level members copied.
// The clock is read once for "exportedAt" and again, after the document is
// serialised, for the marker.
//
// Throws `ExportError` parseFailure (not JSON, nested deeper than
// kMaxExportDepth, top level not an object, "items" missing or not an array
// of objects) or emptyLibrary ("items" empty), or `JsonWriteError`.
PreparedExport prepareExport(std::string_view exportText,
                             const std::optional<std::string>& confirmedLibraryName,
                             const std::set<std::string>& keepFields, const platform::Clock& clock);

}  // namespace quillory::publish
