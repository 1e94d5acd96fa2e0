#pragma once
// File helpers over std::filesystem and POSIX.
//
// Every function reports failure through its result and never throws. Error
// codes carry the system's own description (`error_code::message()`), which
// is what log lines show. Paths are passed in; nothing here reads a global
// except `homeFolder`, which only the composition root calls.
//
// Threading: any thread; the functions keep no state.

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quillory::platform::files {

namespace fs = std::filesystem;

// The current user's home folder: $HOME, else the password database entry.
fs::path homeFolder();

// Creates the folder and its missing parents; succeeds when it already exists
// as a folder.
std::error_code createFolders(const fs::path& folder);

// Writes the bytes to a temporary file in the target's folder, flushes them
// to disk, renames the temporary file over the target and flushes the folder.
// On failure the target is as it was and no temporary file is left behind.
// The temporary file is named ".qh-<pid>-XXXXXX.tmp" (whatever the target's
// name, so every name the file system takes can be written), created new
// (never through a link) and registered with ExitCleanup, so a termination
// signal removes it. Files of that exact pattern that are regular files,
// whose writing process does not exist here and that have not changed for ten
// minutes are removed from the folder first.
//
// The file written has the permissions of any new file (0666 less the
// umask), or, with `keepReplaced`, the mode of the file it replaces and its
// owner and group where the system permits, and `newFileMode` when nothing
// is replaced.
//
// `stillCurrent`, when given, is asked once the bytes are on disk, right
// before the rename: a writer that read the target to compute them says
// there whether it is still what it read. When it says no, nothing is
// replaced and the write fails with `operation_canceled`.
struct WritePermissions {
  bool keepReplaced = false;
  unsigned newFileMode = 0;  // 0: 0666 less the umask
};
std::error_code atomicWrite(const fs::path& target, std::string_view bytes, WritePermissions permissions = {},
                            const std::function<bool()>& stillCurrent = nullptr);

// The first half of `atomicWrite`, for writers that decide late whether the
// file goes in place: `stageWrite` writes the bytes to a temporary file
// beside the target and flushes them to disk; `commit` renames it over the
// target (nothing else: no disk flush), `syncFolder` then makes renames in a
// folder durable. A staged file that is not committed is removed when the
// object goes (or at `discard`); until then it is registered with
// ExitCleanup like any temporary file. Move-only.
class StagedFile {
 public:
  StagedFile() = default;
  ~StagedFile() { discard(); }
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&& other) noexcept;

  bool staged() const { return !temporary_.empty(); }
  // Renames the temporary file over the target; on failure it is removed
  // and the target is as it was. Committing twice, or an empty object, fails.
  std::error_code commit();
  void discard();

 private:
  friend std::error_code stageWrite(const fs::path& target, std::span<const std::string_view> pieces,
                                    StagedFile& staged);
  fs::path temporary_, target_;
};

std::error_code stageWrite(const fs::path& target, std::string_view bytes, StagedFile& staged);
// The same for bytes kept in pieces (a large document in blocks): the file
// holds the pieces joined, written without joining them in memory.
std::error_code stageWrite(const fs::path& target, std::span<const std::string_view> pieces,
                           StagedFile& staged);

// Held around changes that must be whole, such as a document pair's two
// renames and the records that follow them: a process that has begun to end
// (a termination signal) waits for every step held, for a bounded time,
// before it removes its temporary files and ends. Once it has begun to end,
// a new step is not held (`held()` false) and its changes must not begin.
// Move-only; released at `release` or when the object goes. A default one
// holds nothing.
class WholeStep {
 public:
  static WholeStep begin();
  WholeStep() = default;
  ~WholeStep() { release(); }
  WholeStep(WholeStep&& other) noexcept;
  WholeStep& operator=(WholeStep&& other) noexcept;

  bool held() const { return held_; }
  void release();

 private:
  bool held_ = false;
};

// Flushes the folder itself, so that renames made in it survive a crash.
void syncFolder(const fs::path& folder);

// The identity of what is at `path` now (not following a last link): equal
// stamps mean the same file, unchanged as far as its inode, size and change
// time tell; a missing path has a stamp of its own.
struct FileStamp {
  bool present = false;
  unsigned long long device = 0, inode = 0, size = 0;
  long long changedSeconds = 0, changedNanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp stampOf(const fs::path& path);

// The whole file, or none when it cannot be read (missing, a folder, ...).
std::optional<std::string> readFile(const fs::path& file);

// Reads the file in chunks of at most 64 KiB, handing each to `consume` in
// order, so that memory does not grow with the file. Stops early when
// `consume` returns false. Returns false when the file cannot be read (as
// `readFile`) or `consume` stopped it; true after the last chunk.
bool readFileInChunks(const fs::path& file, const std::function<bool(std::string_view chunk)>& consume);

// Removes a file (not a folder). A missing file is an error like any other.
std::error_code removeFile(const fs::path& file);

// True when something (file, folder, anything) exists at the path; a broken
// symbolic link counts as nothing.
bool exists(const fs::path& path);

// Names of the entries of one folder, in the file system's order, or none
// when the folder cannot be listed.
std::optional<std::vector<std::string>> listFolder(const fs::path& folder);

// Walks the tree under `root` depth-first in the file system's order and calls
// `visit` with each entry's full path. Hidden entries (names starting with
// ".") are skipped with everything below them; the insides of packages
// (folders whose name ends in a bundle extension such as ".app", ".bundle",
// ".framework", ".rtfd" or ".photoslibrary"; the full list is in Files.cpp)
// are not entered, though the package itself is visited. Symbolic links are not
// followed. Errors below the root skip the entry and go on. Returns false
// when the walk cannot be started at the root. With `onlyNamed`, the walk is
// the same but only entries of exactly that name are visited (cheaper than
// filtering in `visit` on a large tree).
bool enumerateDeep(const fs::path& root, const std::function<void(const fs::path&)>& visit,
                   std::string_view onlyNamed = {});

}  // namespace quillory::platform::files
