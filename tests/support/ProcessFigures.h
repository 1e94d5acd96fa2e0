#pragma once
// This process's descriptors and children, for checking that nothing is
// left behind. Linux reads them from /proc, macOS from /dev/fd and
// proc_pidinfo; on any other system this file does not build, so no check
// ever compares two zeros. (Threads and memory: the soak driver's figures.)

namespace quillory::testing {

// Children: processes whose parent is this one (zombies included).
struct ProcessFigures {
  long fds = 0, children = 0, zombies = 0;
};

ProcessFigures takeProcessFigures();

// Whether the process group `pgid` has members. Zombies adopted by another
// process are left out: reaping them is their new parent's business, and
// some init processes never do.
bool processGroupHasMembers(int pgid);

}  // namespace quillory::testing
