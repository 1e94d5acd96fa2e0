#include "support/ProcessFigures.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#if defined(__APPLE__)
#include <libproc.h>
#include <sys/proc.h>
#include <sys/proc_info.h>
#elif !defined(__linux__)
#error "process figures are read on Linux and macOS only"
#endif

namespace quillory::testing {

namespace {

struct ProcessState {
  int parent = 0, group = 0;
  bool zombie = false;
};

#if defined(__linux__)

const char* const kDescriptorFolder = "/proc/self/fd";

// Every process /proc shows.
std::vector<ProcessState> processes() {
  std::vector<ProcessState> found;
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;  // "self" and the like
    // A process that ends while it is read is a read error, not a test failure.
    std::string text;
    std::getline(std::ifstream(it->path() / "stat"), text);
    const auto close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 1));  // state ppid pgrp ...
    ProcessState process;
    std::string state;
    if (!(rest >> state >> process.parent >> process.group)) continue;
    process.zombie = state == "Z";
    found.push_back(process);
  }
  return found;
}

#else

const char* const kDescriptorFolder = "/dev/fd";

// Every process, zombies included (a zombie's BSD information is asked for
// with argument 1).
std::vector<ProcessState> processes() {
  std::vector<pid_t> pids(8192);
  const int bytes =
      ::proc_listpids(PROC_ALL_PIDS, 0, pids.data(), static_cast<int>(pids.size() * sizeof(pid_t)));
  std::vector<ProcessState> found;
  for (int i = 0; i < bytes / static_cast<int>(sizeof(pid_t)); ++i) {
    proc_bsdinfo info{};
    if (pids[i] <= 0 || ::proc_pidinfo(pids[i], PROC_PIDTBSDINFO, 1, &info, sizeof info) != sizeof info)
      continue;
    found.push_back(
        {static_cast<int>(info.pbi_ppid), static_cast<int>(info.pbi_pgid), info.pbi_status == SZOMB});
  }
  return found;
}

#endif

}  // namespace

ProcessFigures takeProcessFigures() {
  ProcessFigures figures;
  // The descriptors' entries (all numeric, so none is hidden), less the listing's own.
  std::error_code ec;
  figures.fds = std::ranges::distance(std::filesystem::directory_iterator(kDescriptorFolder, ec)) - 1;
  for (const ProcessState& process : processes()) {
    figures.children += process.parent == ::getpid();
    figures.zombies += process.parent == ::getpid() && process.zombie;
  }
  return figures;
}

bool processGroupHasMembers(int pgid) {
  return std::ranges::any_of(processes(), [pgid](const ProcessState& process) {
    return process.group == pgid && (!process.zombie || process.parent == ::getpid());
  });
}

}  // namespace quillory::testing
