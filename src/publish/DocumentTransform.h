#pragma once
// The pure part of an export: from the host's export text to the published
// document's bytes, its update marker and the names it is published under.
// Touches no file; the benchmark and the tests call it directly.

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "publish/DocumentBytes.h"

namespace quillory::platform {
class Clock;
}

namespace quillory::publish {

// Exports nested deeper than this are refused as unparsable.
inline constexpr std::size_t kMaxExportDepth = 512;

struct PreparedExport {
  DocumentBytes documentBytes;             // compact JSON, UTF-8
  std::string markerBytes;                 // the marker's timestamp, no line end
  std::optional<std::string> libraryName;  // confirmed name, else from the folder
  std::string libraryPath;                 // empty when no item names one
  std::string currencyToken;               // as found, lower-cased ("eur", "export")
  std::string currencyFileToken;           // the currency-named pair's base name,
                                           // written only when `currencyPairName`
                                           // accepts it
  std::string libraryFilename;             // "business-eur"
};

// Parses the export (a leading UTF-8 byte order mark is passed over) and
// builds the published document: the export object
// with "items" reduced to `kKeptItemFields` and "libraryName", "currencyCode",
// "exportedAt" and "libraryPath" set; all other top-level members copied.
// The clock is read once for "exportedAt" and again, after the document is
// serialised, for the marker.
//
// Throws `ExportError` parseFailure (not JSON, nested deeper than
// kMaxExportDepth, top level not an object, "items" missing or not an array
// of objects) or emptyLibrary ("items" empty), or `JsonWriteError`.
PreparedExport prepareExport(std::string_view exportText,
                             const std::optional<std::string>& confirmedLibraryName,
                             const platform::Clock& clock);

// The same transform fed piece by piece as the export text arrives (the
// pieces, joined, are the export text), so the text is never held whole:
// `prepareExport` is one `write` and `finish`. The document grows in blocks
// of `blockSize` (tests make them small), never copied as it grows.
// Not thread-safe: one writer at a time.
class ExportTransform {
 public:
  explicit ExportTransform(std::size_t blockSize = DocumentBytes::kBlockSize);
  ~ExportTransform();
  ExportTransform(const ExportTransform&) = delete;
  ExportTransform& operator=(const ExportTransform&) = delete;

  // Parses the next piece. Never throws: a failure (the text is not JSON,
  // too deep, out of memory) is kept, later pieces are passed over, and
  // `finish` throws it.
  void write(std::string_view piece) noexcept;
  // The document, as `prepareExport` describes (the same errors). Call once.
  PreparedExport finish(const std::optional<std::string>& confirmedLibraryName, const platform::Clock& clock);

 private:
  struct Parse;
  std::unique_ptr<Parse> parse_;
  std::exception_ptr failure_;
  std::size_t markBytesSeen_ = 0;  // of a leading byte order mark; 3 once past it
  bool failed_ = false;
};

}  // namespace quillory::publish
