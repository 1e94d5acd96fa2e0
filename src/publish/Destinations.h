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
                                  // containers only)
};

// Returns how many destinations received the library-filename pair.
int publishDocument(const std::filesystem::path& home, const PublishRequest& request, platform::Log& log);

}  // namespace quillory::publish
