#pragma once
// One helper per settings store: the menu-bar helper and the command-line
// front end both take this lock before they open the settings file, and hold
// it for as long as they run.
//
// The lock is flock(2) LOCK_EX|LOCK_NB on a lock file that lives next to the
// settings file, so it guards exactly that store: a second program on the same
// home folder is refused, while a throw-away home folder (the demo, the tests)
// never collides with the user's running helper. The descriptor is opened with
// O_CLOEXEC, so child processes (the script launcher) never inherit the lock,
// and the kernel releases it when the process ends, also after a crash. The
// file itself is never removed (removing it would let two processes lock two
// different files of the same name). While held, it contains the holder's
// process id, for the refusal message.
//
// Threading: one object per thread; the lock belongs to the process.

#include <filesystem>
#include <optional>
#include <string>

namespace quillory::platform::posix {

// The lock file of the settings store kept in `settingsFile`: the file
// "quillory-helper.lock" in the same folder.
std::filesystem::path lockFileFor(const std::filesystem::path& settingsFile);

// The lock file of the default settings store for `home` (see
// `defaultDefaultsFile`).
std::filesystem::path defaultLockFile(const std::filesystem::path& home);

class SingleInstanceLock {
 public:
  enum class Outcome {
    acquired,       // this object holds the lock
    heldElsewhere,  // another open file description holds it (another process)
    unavailable,    // the lock file could not be created or locked (see `error`)
  };

  // Creates the lock file's folder and the file when missing and tries to lock
  // it without waiting.
  explicit SingleInstanceLock(std::filesystem::path file);
  ~SingleInstanceLock();  // releases the lock
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  Outcome outcome() const { return outcome_; }
  bool acquired() const { return outcome_ == Outcome::acquired; }
  const std::filesystem::path& file() const { return file_; }
  // With `heldElsewhere`: the process id the holder wrote, when readable.
  std::optional<long> holderPid() const { return holderPid_; }
  // With `unavailable`: what failed, with the system's description.
  const std::string& error() const { return error_; }

 private:
  std::filesystem::path file_;
  int fd_ = -1;
  Outcome outcome_ = Outcome::unavailable;
  std::optional<long> holderPid_;
  std::string error_;
};

}  // namespace quillory::platform::posix
