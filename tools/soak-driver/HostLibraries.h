#pragma once
// The simulated host's libraries and its state folder (see
// tools/kettle-ledger-sim): what it exports, and how the driver changes it.

#include <filesystem>
#include <random>
#include <string>

namespace quillory::soak {

struct HostLibrary {
  std::string name;
  std::string currency;
  std::filesystem::path folder;
  std::string exportText;
};

// An export of `items` receipts of a library in `folder`, in `currency`.
std::string exportFor(const std::filesystem::path& folder, const std::string& currency, int items,
                      std::mt19937& random);

// Writes a file of the simulator's state folder by renaming a finished copy
// over it, so the simulator never reads half a file.
void writeState(const std::filesystem::path& file, const std::string& text);

}  // namespace quillory::soak
