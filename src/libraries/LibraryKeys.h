#pragma once
// The per-library user-defaults keys: a prefix followed directly by the
// library name exactly as Kettle Ledger reports it.

#include <optional>
#include <string>
#include <string_view>

namespace quillory::libraries {

inline constexpr std::string_view kSyncLibraryPrefix = "sync_library_";
inline constexpr std::string_view kLibraryPathPrefix = "library_path_";
inline constexpr std::string_view kLibraryFilenamePrefix = "library_filename_";

inline std::string syncLibraryKey(std::string_view name) {
  return std::string(kSyncLibraryPrefix).append(name);
}
inline std::string libraryPathKey(std::string_view name) {
  return std::string(kLibraryPathPrefix).append(name);
}
inline std::string libraryFilenameKey(std::string_view name) {
  return std::string(kLibraryFilenamePrefix).append(name);
}

// A name as the host reports it, when it can key the settings: an empty
// answer is no library, and so is one with a NUL in it (no settings store
// can hold such a key, and no file name can carry it).
inline std::optional<std::string> usableLibraryName(std::string reported) {
  if (reported.empty() || reported.find('\0') != std::string::npos) return std::nullopt;
  return reported;
}

}  // namespace quillory::libraries
