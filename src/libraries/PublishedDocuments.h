#pragma once
// Reading published documents back: the conflict tests, path recovery and
// deletion by scan look at the top-level "libraryName", "libraryPath" and
// "currencyCode".

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace quillory::libraries {

struct PublishedDocumentInfo {
  std::optional<std::string> libraryName;   // present only when a string
  std::optional<std::string> libraryPath;   // present only when a string
  std::optional<std::string> currencyCode;  // present only when a string
};

// Reads and parses one published document. None when the file cannot be read,
// is not JSON or its top level is not an object. Never throws, whatever the
// file holds (deep nesting included).
std::optional<PublishedDocumentInfo> readPublishedDocument(const std::filesystem::path& file);

// Walks the ".json" entries of `folder` in listing order and returns the name
// of the first whose document satisfies `accept`; none when the folder cannot
// be listed or nothing matches.
std::optional<std::string> findPublishedDocument(
    const std::filesystem::path& folder,
    const std::function<bool(const std::string& entryName, const PublishedDocumentInfo&)>& accept);

}  // namespace quillory::libraries
