#pragma once
// Writing a document pair to every place the mobile app reads from.
//
// The container Documents folder comes first and receives the pair under the
// library filename. Then every app container Documents folder, found by a
// deep scan of Library/Containers for the mobile app's preferences file
// (<kMobileBundleID>.plist below a "Preferences" folder), receives that pair and
// the currency-named pair. Every write is atomic; every attempt logs one
// line; a failing destination is logged and skipped.
//
// Threading: the export's background queue; blocks for the writes. The
// staging and committing of one publish run on one thread at a time.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"

namespace quillory::platform {
class Log;
}

namespace quillory::publish {

struct PublishRequest {
  // The document in consecutive pieces (one per block of `DocumentBytes`),
  // written joined, never joined in memory.
  std::vector<std::string_view> documentBytes;
  std::string_view markerBytes;
  std::string libraryFilename;    // "business-eur": business-eur.json +
                                  // business-eur_updated.txt
  std::string currencyFileToken;  // "eur": eur.json + eur_updated.txt (app
                                  // containers only), when `currencyPairName`
                                  // accepts it; else that pair is not written
                                  // (one line says so)
  // Asked with the path of the currency-named document in an app container
  // before that pair is written there: false keeps what is there (another
  // library's own document) and writes neither file of the pair. Unset: asked
  // nothing.
  std::function<bool(const std::filesystem::path& document)> mayWriteCurrencyPair = nullptr;
};

// The pairs of one publish written to temporary files beside every
// destination, not yet in place. The export stages before it takes the
// publish lock and commits under it, so the lock covers only the renames.
// Staging logs nothing: the lines of every attempt are written at `commit`,
// in the order of the destinations, as if each write had happened then; a
// publish that is discarded logs nothing. Whatever is not committed is
// removed when the object goes. Move-only.
class StagedPublish {
 public:
  StagedPublish() = default;
  StagedPublish(StagedPublish&&) noexcept = default;
  StagedPublish& operator=(StagedPublish&&) noexcept = default;

  // Puts every staged pair in place (the document first, then its marker)
  // and logs one line per pair; returns how many destinations received the
  // library-filename pair. The renames and what the caller does until
  // `flush` (the records) are one whole step (`files::WholeStep`): a signal
  // that comes meanwhile ends the process only once they are done, so no
  // pair is left split. Once the process has begun to end, nothing is put in
  // place (0).
  int commit(platform::Log& log);
  // After `commit`: why the first destination that should have received the
  // library-filename pair did not ("Read-only file system"); none when each did.
  std::optional<std::string> firstFailure() const;
  // After `commit`, outside the lock: makes the renames durable and ends the
  // whole step.
  void flush();
  // Removes the temporary files.
  void discard() {
    pairs_.clear();
    step_.release();
  }

 private:
  friend StagedPublish stageDocument(const std::filesystem::path& home,
                                     const std::vector<std::filesystem::path>& appFolders,
                                     const PublishRequest& request);
  struct StagedPair {
    std::filesystem::path folder;
    std::string documentName;
    bool counts = false;  // a library-filename pair
    // Logged at commit instead of the pair's success line: a failure staging
    // met, or why nothing is written (no folder then).
    std::string line;
    std::string failure;  // the reason within `line`, for a pair that failed
    platform::files::StagedFile document, marker;
  };
  std::vector<StagedPair> pairs_;
  platform::files::WholeStep step_;
};

// Creates the destination folders (the container Documents folder under
// `home`, then `appFolders`, the scan of Library/Containers the caller made)
// and writes every pair to temporary files, durably.
StagedPublish stageDocument(const std::filesystem::path& home,
                            const std::vector<std::filesystem::path>& appFolders,
                            const PublishRequest& request);

// Scans, stages and commits at once. Returns how many destinations received the
// library-filename pair.
int publishDocument(const std::filesystem::path& home, const PublishRequest& request, platform::Log& log);

}  // namespace quillory::publish
