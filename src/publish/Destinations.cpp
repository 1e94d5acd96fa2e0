#include "publish/Destinations.h"

#include <optional>
#include <system_error>
#include <vector>

#include "platform/Files.h"
#include "platform/Log.h"
#include "publish/ContainerPaths.h"
#include "publish/Derivations.h"

namespace quillory::publish {
namespace {

namespace fs = std::filesystem;
namespace files = platform::files;

struct PairNames {
  std::string document;
  std::string marker;
};

PairNames pairNamesFor(const std::string& base) {
  std::string document = base + ".json";
  std::string marker = markerNameFor(document);
  return {std::move(document), std::move(marker)};
}

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

}  // namespace

int publishDocument(const fs::path& home, const PublishRequest& request, platform::Log& log) {
  const PairNames libraryPair = pairNamesFor(request.libraryFilename);
  const std::optional<std::string> currencyName = currencyPairName(request.currencyFileToken);
  const PairNames currencyPair = pairNamesFor(currencyName.value_or(""));
  int count = 0;
  if (writePair(containerDocumentsFolder(home), libraryPair, request, log)) ++count;

  const std::vector<fs::path> appFolders = appContainerDocumentsFolders(home);
  if (!currencyName && !appFolders.empty()) {
    log.line("[Helper] \u26A0 Currency-named pair not written: '" + request.currencyFileToken +
             "' does not make a plain file name");
  }
  for (const fs::path& folder : appFolders) {
    if (writePair(folder, libraryPair, request, log)) ++count;
    if (!currencyName) continue;
    if (request.mayWriteCurrencyPair && !request.mayWriteCurrencyPair(folder / currencyPair.document)) {
      log.line("[Helper]   \u23ED " + (folder / currencyPair.document).string() +
               " is another library's document: currency-named pair not written");
      continue;
    }
    writePair(folder, currencyPair, request, log);
  }
  return count;
}

}  // namespace quillory::publish
