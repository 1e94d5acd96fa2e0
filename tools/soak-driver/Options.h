#pragma once
// The soak driver's command line.

#include <filesystem>
#include <string>

namespace quillory::soak {

struct Options {
  std::filesystem::path sim;  // kettle-ledger-sim
  double minutes = 30;
  double speed = 10;
  std::filesystem::path out;  // a new temporary folder when empty
  unsigned seed = 1;
};

// Exits with status 2 and the usage on a bad command line.
Options parseOptions(int argc, char** argv);
[[noreturn]] void usage(const std::string& problem);

}  // namespace quillory::soak
