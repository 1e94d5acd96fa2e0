#pragma once
// What the helper sends to Kettle Ledger, and how it tells that it runs.

#include <chrono>
#include <string_view>

namespace quillory::platform {
class Workspace;
}

namespace quillory::bridge {

inline constexpr std::string_view kOsascriptPath = "/usr/bin/osascript";

// The two scripts, character for character.
inline constexpr std::string_view kLibraryNameScript =
    R"(var kl=Application("test.kettleledger.desktop2"); kl.running() ? kl.documents[0].name() : "")";
inline constexpr std::string_view kExportScript =
    R"(var kl=Application("test.kettleledger.desktop2"); kl.running() ? kl.export() : "")";

inline constexpr std::chrono::seconds kLibraryNameTimeout{5};
inline constexpr std::chrono::seconds kExportTimeout{90};

// True as soon as a running application's bundle identifier equals
// `bundleID` exactly; applications without one never match.
bool isHostRunning(const platform::Workspace& workspace, std::string_view bundleID);

}  // namespace quillory::bridge
