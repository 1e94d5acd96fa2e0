#include "libraries/NameConflicts.h"

#include "libraries/PublishedDocuments.h"
#include "platform/Dispatcher.h"
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

platform::Alert nameConflictAlert(const std::string& name, const std::string& existingPath,
                                  const std::string& newPath) {
  platform::Alert alert;
  alert.message = "Library name conflict: \"" + name + "\"";
  alert.informativeText =
      "Two Kettle Ledger libraries share the same name and currency but live in different folders:\n\n"
      "\u2022 " +
      existingPath + "\n\u2022 " + newPath +
      "\n\nQuillory can only sync one under this filename. Please rename one of the libraries in Kettle "
      "Ledger to resolve the conflict.";
  alert.style = platform::AlertStyle::warning;
  alert.buttons = {"OK"};
  return alert;
}

void showNameConflictAlert(platform::Dispatcher& dispatcher, platform::AlertPresenter& alerts,
                           const std::string& name, const std::string& existingPath,
                           const std::string& newPath) {
  const platform::Alert alert = nameConflictAlert(name, existingPath, newPath);
  // The answer is not used: the alert only informs.
  if (dispatcher.isMainThread()) {
    (void)alerts.run(alert);
  } else {
    dispatcher.sync([&] { (void)alerts.run(alert); });
  }
}

}  // namespace quillory::libraries
