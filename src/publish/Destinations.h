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
// Threading: the export's background queue; blocks for the writes.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace quillory::platform {
class Log;
}

namespace quillory::publish {

struct PublishRequest {
  std::string_view documentBytes;
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

// Returns how many destinations received the library-filename pair.
int publishDocument(const std::filesystem::path& home, const PublishRequest& request, platform::Log& log);

}  // namespace quillory::publish
