#pragma once
// This process's resources as Linux's /proc shows them, for checking that
// nothing is left behind or grows: descriptors, threads, memory, children.
// Elsewhere (no /proc, no glibc) the figures stay 0.

#include <string>

namespace quillory::testing {

struct ProcessFigures {
  long fds = 0;
  long threads = 0;
  long rssKiB = 0;
  long heapKiB = 0;   // bytes malloc has handed out and not got back
  long children = 0;  // processes whose parent is this one (zombies included)
  long zombies = 0;
};

ProcessFigures takeProcessFigures();
// "fds=… threads=… rss=…KiB heap=…KiB children=… zombies=…"
std::string describe(const ProcessFigures& figures);

}  // namespace quillory::testing
