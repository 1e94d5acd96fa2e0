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

std::string failureLine(const fs::path& folder, const std::error_code& error) {
  return "[Helper]   \u2717 " + folder.filename().string() + ": " + error.message();
}

}  // namespace

// Creates the folder, then stages the document and the marker, stopping at
// the first failure, which is kept for the pair's line.
StagedPublish stageDocument(const fs::path& home, const std::vector<fs::path>& appFolders,
                            const PublishRequest& request) {
  const PairNames libraryPair = pairNamesFor(request.libraryFilename);
  const std::optional<std::string> currencyName = currencyPairName(request.currencyFileToken);
  const PairNames currencyPair = pairNamesFor(currencyName.value_or(""));
  StagedPublish staged;
  const auto note = [&](std::string line) { staged.pairs_.emplace_back().line = std::move(line); };
  const auto stagePair = [&](const fs::path& folder, const PairNames& names, bool counts) {
    StagedPublish::StagedPair& pair = staged.pairs_.emplace_back();
    pair.folder = folder;
    pair.documentName = names.document;
    pair.counts = counts;
    std::error_code error = files::createFolders(folder);
    if (!error) error = files::stageWrite(folder / names.document, request.documentBytes, pair.document);
    if (!error) error = files::stageWrite(folder / names.marker, request.markerBytes, pair.marker);
    if (error) {
      pair.line = failureLine(folder, error);
      pair.failure = error.message();
      pair.document.discard();
    }
  };
  stagePair(containerDocumentsFolder(home), libraryPair, true);

  if (!currencyName && !appFolders.empty()) {
    note("[Helper] \u26A0 Currency-named pair not written: '" + request.currencyFileToken +
         "' does not make a plain file name");
  }
  for (const fs::path& folder : appFolders) {
    stagePair(folder, libraryPair, true);
    if (!currencyName) continue;
    if (request.mayWriteCurrencyPair && !request.mayWriteCurrencyPair(folder / currencyPair.document)) {
      note("[Helper]   \u23ED " + (folder / currencyPair.document).string() +
           " is another library's document: currency-named pair not written");
      continue;
    }
    stagePair(folder, currencyPair, false);
  }
  return staged;
}

int StagedPublish::commit(platform::Log& log) {
  step_ = files::WholeStep::begin();
  if (!step_.held()) {  // the process is ending: no pair begins
    pairs_.clear();
    return 0;
  }
  int count = 0;
  for (StagedPair& pair : pairs_) {
    std::error_code error;
    if (pair.line.empty()) error = pair.document.commit();
    if (pair.line.empty() && !error) error = pair.marker.commit();
    if (error) {
      pair.line = failureLine(pair.folder, error);
      pair.failure = error.message();
    }
    pair.marker.discard();
    if (!pair.line.empty()) {
      log.line(pair.line);
      continue;
    }
    log.line("[Helper]   \u2192 " + pair.folder.string() + "/" + pair.documentName);
    if (pair.counts) ++count;
  }
  return count;
}

std::optional<std::string> StagedPublish::firstFailure() const {
  for (const StagedPair& pair : pairs_) {
    if (pair.counts && !pair.failure.empty()) return pair.failure;
  }
  return std::nullopt;
}

void StagedPublish::flush() {
  for (const StagedPair& pair : pairs_) {
    if (pair.line.empty()) files::syncFolder(pair.folder);
  }
  step_.release();
}

int publishDocument(const fs::path& home, const PublishRequest& request, platform::Log& log) {
  StagedPublish staged = stageDocument(home, appContainerDocumentsFolders(home), request);
  const int count = staged.commit(log);
  staged.flush();
  return count;
}

}  // namespace quillory::publish
