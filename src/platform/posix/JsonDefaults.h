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
//   1. takes an advisory lock (flock) on "<file>.lock" beside the file (a
//      lock on the file itself would be lost with the rename of each write);
//   2. re-reads the file, applies only the change's keys, and writes it
//      atomically and durably (temporary file, fsync, rename, folder fsync);
//   3. releases the lock.
// Reads reload the file when its identity, size or modification time
// changed. A file that is a symbolic link is written where it points and
// stays a link. A read-only file (no write permission for this user) is
// never replaced: the change fails with "Permission denied".
//
// A missing file is an empty store. A regular file that cannot be read as a
// JSON object (broken, nested deeper than kMaxSettingsNesting, larger than
// kMaxSettingsBytes) is renamed aside to "<name>.corrupt-<timestamp>" (with a
// counter when that name is taken; never overwritten or deleted) when the
// store opens or before a change is written; one "[Helper] ⚠" line says
// where it went. While running, a file that turns unreadable (an editor
// half-way through its save) leaves the last contents read in place for
// reads. A file that cannot be moved aside fails every change (writing would
// overwrite it). Anything else at the path (a folder) reads as empty and
// fails every change with the system's reason.
//
// Opened `readOnly`, the store never writes, renames or creates anything:
// every change fails, and an unreadable file is only reported.
//
// Threading: any thread. Changes of one process are serialised by a mutex
// held across the disk work; reads take only a short one and never wait for
// a change in progress, except to swap in the contents just written.

#include <sys/types.h>

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
  std::shared_ptr<const SettingsObject> current() const;
  std::optional<Stamp> stampNow() const;
  std::filesystem::path target() const;
  bool moveAside(const std::filesystem::path& file, const std::string& why);

  const std::filesystem::path file_;
  const std::filesystem::path lockFile_;
  Log& log_;
  Clock& clock_;
  const Mode mode_;
  std::mutex changeMutex_;  // serialises this process's changes
  mutable std::mutex stateMutex_;
  mutable std::shared_ptr<const SettingsObject> object_;  // guarded by stateMutex_
  mutable std::optional<Stamp> stamp_;                    // guarded by stateMutex_; none: no file read
};

}  // namespace quillory::platform::posix
