#include "support/ProcessFigures.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quillory::testing {

namespace {

// Entries of a /proc folder (all numeric there, so none is hidden).
long countEntries(const char* folder) {
  std::error_code ec;
  return std::distance(std::filesystem::directory_iterator(folder, ec),
                       std::filesystem::directory_iterator());
}

}  // namespace

ProcessFigures takeProcessFigures() {
  ProcessFigures figures;
  figures.fds = countEntries("/proc/self/fd") - 1;  // the listing's own descriptor
  figures.threads = countEntries("/proc/self/task");
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) figures.rssKiB = std::stol(line.substr(6));
  }
#if defined(__GLIBC__)
  figures.heapKiB = static_cast<long>(::mallinfo2().uordblks / 1024);
#endif
  const std::string self = std::to_string(::getpid());
  std::error_code ec;
  // Entries that are not processes have no stat line; "self" has another parent.
  for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    std::ifstream stat(it->path() / "stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 2));
    std::string state, ppid;
    rest >> state >> ppid;
    if (ppid != self) continue;
    ++figures.children;
    if (state == "Z") ++figures.zombies;
  }
  return figures;
}

std::string describe(const ProcessFigures& f) {
  std::ostringstream out;
  out << "fds=" << f.fds << " threads=" << f.threads << " rss=" << f.rssKiB << "KiB heap=" << f.heapKiB
      << "KiB children=" << f.children << " zombies=" << f.zombies;
  return out.str();
}

}  // namespace quillory::testing
