#pragma once
// One helper per user: the menu-bar helper and the command-line front end both
// take this lock before they open the settings store, and hold it for as long
// as they run.
//
// The lock is flock(2) LOCK_EX|LOCK_NB on the file ".quillory-helper.lock"
// directly in the home folder the helper publishes from. So it is keyed to
// that home: two helpers on the same home refuse each other whatever their
// XDG_CONFIG_HOME, deleting the settings folder cannot remove it, and a
// throw-away home folder (the demo, the tests) never collides with the user's
// running helper. $XDG_RUNTIME_DIR is not used: it is unset in some sessions
// (cron, su, some ssh logins) and absent on macOS, and a lock with two possible
// places is no lock.
//
// The file is opened without following a symbolic link (O_NOFOLLOW), must be
// a regular file with one name that belongs to this user, and is never
// truncated. A link, a folder, a FIFO or a hard-linked file there is refused
// with a reason (`unavailable`). The descriptor is close-on-exec, so child
// processes (the script launcher) never inherit the lock; the kernel releases
// it when the process ends, also after a crash or a signal. The file itself is
// never removed (removing it would let two processes lock two different files
// of the same name).
//
// While held, the file's first bytes are the holder's record, "<pid>
// <program>", padded with spaces to a fixed size, for the refusal message and
// so that the menu-bar helper can tell a command-line run (which it waits for)
// from another menu-bar helper (which it gives way to).
//
// Threading: one object per thread; the lock belongs to the process.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/posix/OwnedFd.h"

namespace quillory::platform::posix {

// The programs' names in the holder's record.
inline constexpr const char* kMenuBarHelperProgram = "quillory-helper";
inline constexpr const char* kCommandLineProgram = "quillory-helper-cli";

// "<home>/.quillory-helper.lock".
std::filesystem::path defaultLockFile(const std::filesystem::path& home);

class SingleInstanceLock {
 public:
  enum class Outcome {
    acquired,       // this object holds the lock
    heldElsewhere,  // another open file description holds it (another process)
    unavailable,    // the lock file could not be created, used or locked (see `error`)
  };

  // Creates the lock file when missing (not its folder) and tries to lock it
  // without waiting. `program` names this program in the holder's record
  // (one word, for example "quillory-helper-cli").
  SingleInstanceLock(std::filesystem::path file, std::string program);
  ~SingleInstanceLock();  // releases the lock
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // Unless acquired: opens the file again and tries once more without waiting.
  Outcome retry();

  Outcome outcome() const { return outcome_; }
  bool acquired() const { return outcome_ == Outcome::acquired; }
  const std::filesystem::path& file() const { return file_; }
  // With `heldElsewhere`: the holder's process id and program, when readable
  // (the program is empty when unknown).
  std::optional<long> holderPid() const { return holderPid_; }
  const std::string& holderProgram() const { return holderProgram_; }
  // With `unavailable`: what failed, with the system's description.
  const std::string& error() const { return error_; }

 private:
  void take();

  std::filesystem::path file_;
  std::string program_;
  OwnedFd fd_;
  Outcome outcome_ = Outcome::unavailable;
  std::optional<long> holderPid_;
  std::string holderProgram_;
  std::string error_;
};

}  // namespace quillory::platform::posix
