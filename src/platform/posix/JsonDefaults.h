#pragma once
// The settings store on systems without a user-defaults service: one JSON
// object in a file, read with Boost.JSON (nesting and size bounded). Keys are
// the object's members; a bool is a JSON boolean, a string a JSON string, a
// date a string in ISO 8601 UTC with whole seconds ("2026-12-07T01:02:03Z").
// A string that reads as such a timestamp is reported as both a string and a
// date (DatedText); any other value (number, null, array, object) is another
// type, kept as it is.
//
// Several writers share the file (this process, the other front end, a
// script, an editor). A change (`apply`):
//   1. resolves the link, if the file is one (again at every change): the
//      change is written to the file the link ends at;
//   2. takes an advisory lock (flock) on "<that file>.lock" beside it (a lock
//      on the file itself would be lost with the rename of each write), and
//      resolves the link again under it (re-pointed meanwhile: once more);
//   3. re-reads the file, applies only the change's keys, and writes it
//      atomically and durably (temporary file, fsync, rename, folder fsync),
//      keeping the mode, owner and group of the file it replaces (a new file
//      is 0600);
//   4. releases the lock.
// Only a regular file (or none) is replaced: anything else at the path or at
// the link's end fails every change with "cannot save the settings: <path>
// is not a regular file" and reads as empty. A read-only file (no write
// permission for this user) is never replaced: the change fails with
// "Permission denied".
//
// Reads reload the file when its device, inode, size or modification time
// changed, and also while its modification time is less than two seconds
// older than the moment the stamp was taken (git's "racily clean" rule): on a
// file system with coarse timestamps, or a kernel that stamps files at the
// timer tick, a second same-size write within one tick leaves the stamp as it
// was. Such a reload compares the bytes before parsing them again.
//
// A missing file is an empty store. A regular file that cannot be read as a
// JSON object (broken, nested deeper than kMaxSettingsNesting, larger than
// kMaxSettingsBytes) may be an editor's save caught half-way: until it
// parses, every key reads as unreadable (UnreadableValue), so nothing is
// decided on it. It is renamed aside to "<name>.corrupt-<timestamp>" (with a
// counter when that name is taken; never overwritten or deleted) only once it
// has stayed unparseable and unchanged for two seconds: a change waits for
// that (re-reading meanwhile; at most kLongestSettleWait, then it fails with
// the reason); opening the store and a read that finds it so set it aside
// when that needs no wait (the lock is free). One
// "[Helper] ⚠" line says where it went and what the file holds now (the
// settings last read from it, or none). A file that cannot be moved aside
// fails every change (writing would overwrite it).
//
// Opened `readOnly`, the store never writes, renames or creates anything:
// every change fails, and an unreadable file is only reported.
//
// Threading: any thread. Changes of one process are serialised by a mutex
// held across the disk work, and wait for the lock of other processes: call
// `apply` off the main thread. Reads take only a short mutex, never the file
// lock, and never wait for a change in progress, except to swap in the
// contents just written. Opening takes the lock only if it is free.

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Log.h"

namespace quillory::platform::posix {

inline constexpr std::size_t kMaxSettingsNesting = 64;
inline constexpr std::size_t kMaxSettingsBytes = 64 * 1024 * 1024;
// How long a change waits for an unparseable file that is still being
// changed before it fails.
inline constexpr std::chrono::seconds kLongestSettleWait{5};
// How often a change is made again on a file that changed while it was saved
// (an editor saving in place, taking no lock) before the change fails.
inline constexpr int kMostSaveAttempts = 10;

// "$XDG_CONFIG_HOME/quillory-helper/settings.json", where an unset, empty or
// relative XDG_CONFIG_HOME stands for `home`/.config.
std::filesystem::path defaultDefaultsFile(const std::filesystem::path& home);

// The same, with the value of XDG_CONFIG_HOME passed in (none when unset).
std::filesystem::path defaultsFileFor(const std::filesystem::path& home,
                                      const std::optional<std::string>& xdgConfigHome);

// The settings object in `bytes`, or none when it is not a JSON object within
// the limits. Pure; exposed for the fuzz target and the tests.
struct SettingsObject;
std::shared_ptr<const SettingsObject> parseSettings(std::string_view bytes);

class JsonDefaults final : public Defaults {
 public:
  enum class Mode { readWrite, readOnly };

  JsonDefaults(std::filesystem::path file, Log& log, Clock& clock, Mode mode = Mode::readWrite);
  ~JsonDefaults() override;
  JsonDefaults(const JsonDefaults&) = delete;
  JsonDefaults& operator=(const JsonDefaults&) = delete;

  DefaultsValue value(const std::string& key) const override;
  std::vector<std::string> keys() const override;
  StoreResult apply(const DefaultsChange& change) override;

  const std::filesystem::path& file() const { return file_; }

 private:
  struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    long long mtimeNanoseconds = 0;
    bool operator==(const Stamp&) const = default;
  };
  // What a read found: the settings last parsed, and whether the file as it
  // is now parsed (false: every key is unreadable).
  struct Snapshot {
    std::shared_ptr<const SettingsObject> object;
    bool readable = true;
  };
  Snapshot current() const;
  static Stamp stampOf(const struct stat& info);
  static std::optional<Stamp> stampOf(const std::filesystem::path& file);
  std::optional<Stamp> stampNow() const;
  StoreResult store(const DefaultsChange& change, bool mayWait);
  bool moveAside(const std::filesystem::path& file, const std::string& why, std::size_t kept);

  const std::filesystem::path file_;
  Log& log_;
  Clock& clock_;
  const Mode mode_;
  std::mutex changeMutex_;  // serialises this process's changes
  mutable std::mutex stateMutex_;
  mutable std::shared_ptr<const SettingsObject> object_;  // guarded by stateMutex_; last parsed
  mutable std::shared_ptr<const std::string> bytes_;      // guarded by stateMutex_; last read
  mutable bool readable_ = true;                          // guarded by stateMutex_
  mutable std::optional<Stamp> stamp_;                    // guarded by stateMutex_; none: no file read
  mutable bool racy_ = true;                              // guarded by stateMutex_; stamp_ proves nothing
};

}  // namespace quillory::platform::posix
