#include "publish/Destinations.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "libraries/ContainerPaths.h"
#include "platform/Files.h"
#include "platform/Log.h"

namespace quillory::publish {
namespace {

namespace fs = std::filesystem;
namespace files = platform::files;

struct PairNames {
  std::string document;
  std::string marker;
};

PairNames pairNamesFor(const std::string& base) { return {base + ".json", base + "_updated.txt"}; }

void logFailure(platform::Log& log, const fs::path& folder, const std::error_code& error) {
  log.line("[Helper]   \u2717 " + folder.filename().string() + ": " + error.message());
}

// Creates the folder, then writes the document and the marker, stopping at
// the first failure. True when both files were written.
bool writePair(const fs::path& folder, const PairNames& names, const PublishRequest& request,
               platform::Log& log) {
  std::error_code error = files::createFolders(folder);
  if (!error) error = files::atomicWrite(folder / names.document, request.documentBytes);
  if (!error) error = files::atomicWrite(folder / names.marker, request.markerBytes);
  if (error) {
    logFailure(log, folder, error);
    return false;
  }
  log.line("[Helper]   \u2192 " + folder.string() + "/" + names.document);
  return true;
}

bool isPreferencesFile(const fs::path& entry, const std::string& preferencesName) {
  if (entry.filename() != preferencesName) return false;
  return std::any_of(entry.begin(), entry.end(), [](const fs::path& part) { return part == "Preferences"; });
}

}  // namespace

int publishDocument(const fs::path& home, std::string_view iOSBundleID, const PublishRequest& request,
                    platform::Log& log) {
  const PairNames libraryPair = pairNamesFor(request.libraryFilename);
  const PairNames currencyPair = pairNamesFor(request.currencyFileToken);
  int count = 0;
  if (writePair(libraries::containerDocumentsFolder(home), libraryPair, request, log)) ++count;

  const std::string preferencesName = std::string(iOSBundleID) + ".plist";
  std::vector<fs::path> appFolders;
  files::enumerateDeep(home / libraries::kContainersRelative, [&](const fs::path& entry) {
    if (isPreferencesFile(entry, preferencesName)) {
      appFolders.push_back(entry.parent_path().parent_path().parent_path() / "Documents");
    }
  });
  for (const fs::path& folder : appFolders) {
    if (writePair(folder, libraryPair, request, log)) ++count;
    writePair(folder, currencyPair, request, log);
  }
  return count;
}

}  // namespace quillory::publish
