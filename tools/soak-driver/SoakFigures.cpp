#include "SoakFigures.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#if defined(__APPLE__)
#include <libproc.h>
#include <malloc/malloc.h>
#include <sys/proc_info.h>
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quillory::soak {

SoakFigures takeSoakFigures() {
  SoakFigures figures;
  static_cast<testing::ProcessFigures&>(figures) = testing::takeProcessFigures();
#if defined(__APPLE__)
  proc_taskinfo task{};
  if (::proc_pidinfo(::getpid(), PROC_PIDTASKINFO, 0, &task, sizeof task) == sizeof task) {
    figures.threads = task.pti_threadnum;
    figures.rssKiB = static_cast<long>(task.pti_resident_size / 1024);
  }
  malloc_statistics_t heap{};
  ::malloc_zone_statistics(nullptr, &heap);  // all zones
  figures.heapKiB = static_cast<long>(heap.size_in_use / 1024);
#else
  std::error_code ec;
  figures.threads = std::distance(std::filesystem::directory_iterator("/proc/self/task", ec),
                                  std::filesystem::directory_iterator());
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) figures.rssKiB = std::stol(line.substr(6));
  }
#if defined(__GLIBC__)
  figures.heapKiB = static_cast<long>(::mallinfo2().uordblks / 1024);
#endif
#endif
  return figures;
}

std::string describe(const SoakFigures& f) {
  std::ostringstream out;
  out << "fds=" << f.fds << " threads=" << f.threads << " rss=" << f.rssKiB << "KiB heap=" << f.heapKiB
      << "KiB children=" << f.children << " zombies=" << f.zombies;
  return out.str();
}

}  // namespace quillory::soak
