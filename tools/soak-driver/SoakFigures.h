#pragma once
// What the soak watches for growth: the tests' process figures (descriptors,
// children) and this process's threads and memory. Linux reads them from
// /proc and glibc's allocator, macOS from proc_pidinfo and the malloc zones.

#include <string>

#include "support/ProcessFigures.h"

namespace quillory::soak {

struct SoakFigures : testing::ProcessFigures {
  long threads = 0;
  long rssKiB = 0;
  long heapKiB = 0;  // bytes malloc has handed out and not got back
};

SoakFigures takeSoakFigures();
// "fds=… threads=… rss=…KiB heap=…KiB children=… zombies=…"
std::string describe(const SoakFigures& figures);

}  // namespace quillory::soak
