#pragma once
// This process's resources, for checking that nothing is left behind or
// grows: descriptors, threads, memory, children. Linux reads them from /proc,
// macOS from /dev/fd, proc_pidinfo and the malloc zones; on any other system
// this file does not build, so no check ever compares two zeros.

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

// Whether the process group `pgid` has members. Zombies adopted by another
// process are left out: reaping them is their new parent's business, and
// some init processes never do.
bool processGroupHasMembers(int pgid);

}  // namespace quillory::testing
