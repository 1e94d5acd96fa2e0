#include "Options.h"

#include <cstdlib>
#include <iostream>
#include <stdexcept>

namespace quillory::soak {

[[noreturn]] void usage(const std::string& problem) {
  std::cerr << "soak-driver: " << problem
            << "\nusage: soak-driver --sim PATH [--minutes N] [--speed S] [--out DIR] [--seed N]\n";
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) usage(arg + " needs a value");
      return argv[++i];
    };
    try {
      if (arg == "--sim") {
        options.sim = next();
      } else if (arg == "--minutes") {
        options.minutes = std::stod(next());
      } else if (arg == "--speed") {
        options.speed = std::stod(next());
      } else if (arg == "--out") {
        options.out = next();
      } else if (arg == "--seed") {
        options.seed = static_cast<unsigned>(std::stoul(next()));
      } else {
        usage("unknown argument " + arg);
      }
    } catch (const std::logic_error&) {
      usage("bad value for " + arg);
    }
  }
  if (options.sim.empty()) usage("--sim is required");
  if (!(options.minutes > 0) || !(options.speed >= 1)) usage("--minutes must be > 0 and --speed >= 1");
  return options;
}

}  // namespace quillory::soak
