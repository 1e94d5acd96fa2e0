#pragma once
// Reading published documents back: the conflict tests, path recovery and
// deletion by scan look at the top-level "libraryName", "libraryPath" and
// "currencyCode".

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

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

// The documents of one folder, listed once and each read once, found by the
// library they name (canonically composed "libraryName"). The pruning pass
// takes one per pass: however many libraries it looks at, the folder is
// scanned once. Listed at the first question, so a pass that asks nothing
// reads nothing.
class DocumentIndex {
 public:
  struct Document {
    std::string entry;
    PublishedDocumentInfo info;
  };
  explicit DocumentIndex(std::filesystem::path folder) : folder_(std::move(folder)) {}

  const std::filesystem::path& folder() const { return folder_; }
  // The readable ".json" documents naming `libraryName`, in listing order.
  std::vector<const Document*> naming(const std::string& libraryName);

 private:
  std::filesystem::path folder_;
  bool listed_ = false;
  std::vector<Document> documents_;
  std::unordered_map<std::string, std::vector<std::size_t>> byName_;
};

}  // namespace quillory::libraries
