#include "libraries/NameConflicts.h"

#include "libraries/PublishedDocuments.h"
#include "platform/Files.h"
#include "platform/Unicode.h"

namespace quillory::libraries {

std::optional<std::string> conflictingLibraryPath(const std::filesystem::path& targetDocument,
                                                  const std::string& newPath) {
  if (newPath.empty()) return std::nullopt;
  if (!platform::files::exists(targetDocument)) return std::nullopt;
  const std::optional<PublishedDocumentInfo> existing = readPublishedDocument(targetDocument);
  if (!existing || !existing->libraryPath || existing->libraryPath->empty()) return std::nullopt;
  // Paths compare as text: another spelling of the same folder is another folder.
  if (platform::canonicallyEqual(*existing->libraryPath, newPath)) return std::nullopt;
  if (!platform::files::exists(*existing->libraryPath)) return std::nullopt;
  return existing->libraryPath;
}

std::optional<std::string> conflictingLibrary(const std::filesystem::path& targetDocument,
                                              const std::string& newPath, const std::string& newName) {
  if (!newPath.empty()) return conflictingLibraryPath(targetDocument, newPath);
  if (!platform::files::exists(targetDocument)) return std::nullopt;
  const std::optional<PublishedDocumentInfo> existing = readPublishedDocument(targetDocument);
  if (!existing || !existing->libraryName) return std::nullopt;
  if (platform::canonicallyEqual(*existing->libraryName, newName)) return std::nullopt;
  if (!existing->libraryPath || existing->libraryPath->empty()) return existing->libraryName;
  if (!platform::files::exists(*existing->libraryPath)) return std::nullopt;
  return existing->libraryPath;
}

bool mayWriteCurrencyPair(const std::filesystem::path& document, const std::string& name) {
  const std::optional<PublishedDocumentInfo> existing = readPublishedDocument(document);
  if (!existing || !existing->libraryName || platform::canonicallyEqual(*existing->libraryName, name)) {
    return true;
  }
  return existing->currencyCode && platform::lowerCased(*existing->currencyCode) == document.stem().string();
}

ConflictReading readConflict(const std::vector<std::filesystem::path>& targets, const std::string& newPath,
                             const std::string& newName) {
  ConflictReading reading;
  for (const std::filesystem::path& target : targets) {
    reading.stamps.push_back(platform::files::stampOf(target));
    if (!reading.existing) reading.existing = conflictingLibrary(target, newPath, newName);
  }
  return reading;
}

bool stillCurrent(const ConflictReading& reading, const std::vector<std::filesystem::path>& targets) {
  if (reading.stamps.size() != targets.size()) return false;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (!(platform::files::stampOf(targets[i]) == reading.stamps[i])) return false;
  }
  return true;
}

}  // namespace quillory::libraries
