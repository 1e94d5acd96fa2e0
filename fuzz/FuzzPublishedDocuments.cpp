// Fuzzes the readers of published documents with the fuzzed bytes as a
// ".json" file in a container Documents folder: the document reader, the
// name-conflict test, path recovery, deletion by scan and a pruning pass over
// a switched-off library without records.
//
// Properties: nothing throws or crashes; the conflict test only ever returns
// a path that the reader found as the document's "libraryPath" and that
// exists; recovery returns the document's own non-empty "libraryPath" for the
// name it names; deletion by scan removes the pair exactly when the document
// names the library; nothing outside the container folder is touched (the
// sentinel file beside it stays).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "libraries/LibraryContext.h"
#include "libraries/LibraryKeys.h"
#include "libraries/LibraryRecords.h"
#include "libraries/NameConflicts.h"
#include "libraries/Pruning.h"
#include "libraries/PublishedDocuments.h"
#include "platform/Files.h"
#include "platform/Unicode.h"
#include "publish/ContainerPaths.h"
#include "support/MemoryDefaults.h"

namespace {

namespace fs = std::filesystem;
using namespace quillory;

constexpr const char* kName = "Biz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::NullLog log;
  testing::MemoryDefaults defaults;  // no settings at the start of each input
  const fs::path& home = fuzz::scratchFolder();
  const fs::path folder = publish::containerDocumentsFolder(home);
  const fs::path document = folder / "biz-eur.json";
  const fs::path marker = folder / "biz-eur_updated.txt";
  const fs::path sentinel = home / "outside.txt";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  fuzz::emptyFolder(home);
  fuzz::writeInput(sentinel, "outside");
  fuzz::writeInput(document, bytes);
  fuzz::writeInput(marker, "2026-12-05T11:32:21Z");

  const auto info = libraries::readPublishedDocument(document);
  const bool namesLibrary =
      info && info->libraryName && platform::canonicallyEqual(*info->libraryName, kName);

  // The conflict test, against a new path that is never the document's own.
  const auto conflict = libraries::conflictingLibraryPath(document, "/nonexistent/quillory-fuzz/new");
  if (conflict) {
    QUILLORY_FUZZ_CHECK(info && info->libraryPath && *info->libraryPath == *conflict);
    QUILLORY_FUZZ_CHECK(platform::files::exists(*conflict));
  }
  // An empty new path never conflicts.
  QUILLORY_FUZZ_CHECK(!libraries::conflictingLibraryPath(document, ""));

  const libraries::LibraryContext context{defaults, log, home};
  const auto recovered = libraries::recoverLibraryPath(context, kName);
  if (recovered) {
    QUILLORY_FUZZ_CHECK(namesLibrary && !recovered->empty());
    QUILLORY_FUZZ_CHECK(info->libraryPath && *info->libraryPath == *recovered);
    defaults.remove(libraries::libraryPathKey(kName));
  } else {
    QUILLORY_FUZZ_CHECK(!(namesLibrary && info->libraryPath && !info->libraryPath->empty()));
  }

  // Deletion by scan (no filename record).
  libraries::deleteLibraryFiles(context, kName);
  QUILLORY_FUZZ_CHECK(platform::files::exists(document) == !namesLibrary);
  QUILLORY_FUZZ_CHECK(platform::files::exists(marker) == !namesLibrary);

  // A pruning pass over the switched-off library, with the document back.
  fuzz::writeInput(document, bytes);
  defaults.setBool(libraries::syncLibraryKey(kName), false);
  libraries::pruneLibraries(context);

  QUILLORY_FUZZ_CHECK(platform::files::readFile(sentinel) == std::optional<std::string>("outside"));
  return 0;
}
