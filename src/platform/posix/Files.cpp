#include "platform/Files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "platform/posix/ExitCleanup.h"
#include "platform/posix/OwnedFd.h"
#include "platform/posix/WriteAll.h"

#if defined(__APPLE__)
#include "platform/macos/FileCoordination.h"
#endif

namespace quillory::platform::files {

namespace {

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

using posix::OwnedFd;
using posix::writeAll;

OwnedFd openRetrying(const char* path, int flags, mode_t mode = 0) {
  while (true) {
    const int fd = ::open(path, flags, mode);
    if (fd >= 0 || errno != EINTR) return OwnedFd(fd);
  }
}

// Closes once, reporting what close says (a write the system could not
// finish may show only here); retrying close after EINTR may close a
// descriptor another thread has just been given.
std::error_code closeOnce(OwnedFd fd) {
  if (::close(fd.release()) != 0 && errno != EINTR) return lastError();
  return {};
}

// Flushes the file's data to the storage device. On Apple systems fsync only
// reaches the drive's cache; F_FULLFSYNC goes all the way, where supported.
std::error_code flushToDisk(int fd) {
#ifdef F_FULLFSYNC
  if (::fcntl(fd, F_FULLFSYNC) == 0) return {};
#endif
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return lastError();
  }
  return {};
}

// Temporary files are named ".qh-<pid>-XXXXXX.tmp": short, whatever the
// target's name (so every target name the file system takes can be written),
// hidden (folder walks skip them), and naming the process that writes them.
constexpr std::string_view kTemporaryPrefix = ".qh-";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kTemporaryRandomLength = 6;

bool isAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The writer's process id when `name` has exactly the temporary pattern.
std::optional<pid_t> temporaryFileWriter(std::string_view name) {
  if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) return std::nullopt;
  name.remove_prefix(kTemporaryPrefix.size());
  name.remove_suffix(kTemporarySuffix.size());
  const std::size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash > 9 || name[0] == '0') return std::nullopt;
  const std::string_view pid = name.substr(0, dash);
  const std::string_view random = name.substr(dash + 1);
  if (!std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
  if (random.size() != kTemporaryRandomLength || !std::all_of(random.begin(), random.end(), isAsciiAlnum)) {
    return std::nullopt;
  }
  return static_cast<pid_t>(std::stol(std::string(pid)));
}

// How long a temporary file must have gone unchanged before it counts as stale.
constexpr time_t kStaleAgeSeconds = 10 * 60;

// Removes the temporary files that writers which no longer exist left in the
// folder (a crash, a power cut, a kill). A writer is gone when no process has
// its id here and the file has not changed for `kStaleAgeSeconds`: iCloud
// Drive carries folders between Macs, so a writer with an id unknown here may
// be alive on another one (a reused id only keeps a stale file for longer).
// The age is taken from the file's modification time, which is wall-clock
// time; a file dated in the future is kept. Only regular files with exactly
// the pattern are touched, never this process's own.
void removeStaleTemporaryFiles(const fs::path& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const int dirFd = ::dirfd(dir);
  const time_t now = ::time(nullptr);
  while (const dirent* entry = ::readdir(dir)) {
    const std::optional<pid_t> writer = temporaryFileWriter(entry->d_name);
    if (!writer || *writer == ::getpid()) continue;
    if (::kill(*writer, 0) == 0 || errno != ESRCH) continue;
    struct stat info {};
    if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    if (info.st_mtime > now - kStaleAgeSeconds) continue;
    ::unlinkat(dirFd, entry->d_name, 0);
  }
  ::closedir(dir);
}

// Creates a new temporary file in `folder` with mode 0666 less the umask, as
// any new file (O_EXCL: never through a link, never an existing file),
// registered for removal should a signal end the process in the same step
// (so a signal never finds it unregistered).
OwnedFd createTemporaryFile(const fs::path& folder, fs::path& temporary) {
  thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::string prefix = (folder / kTemporaryPrefix).string() + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (std::size_t i = 0; i < kTemporaryRandomLength; ++i) {
      name.push_back(kAlphabet[random() % (sizeof kAlphabet - 1)]);
    }
    name += kTemporarySuffix;
    OwnedFd fd(posix::exitcleanup::createTemporaryFile(name, [&name] {
      return openRetrying(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666).release();
    }));
    if (!fd.valid() && errno == EEXIST) continue;
    if (fd.valid()) temporary = name;
    return fd;
  }
  errno = EEXIST;
  return OwnedFd();
}

bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// Folder extensions that make a folder a package (a document or a bundle that
// the user sees as one item). Compared without regard to case, as the file
// systems of the Mac do. Localisation folders (".lproj") are plain folders.
constexpr std::array<std::string_view, 20> kPackageExtensions = {
    ".app",   ".appex", ".bundle",        ".framework",   ".plugin",      ".kext",         ".xpc",
    ".pkg",   ".mpkg",  ".photoslibrary", ".rtfd",        ".qlgenerator", ".mdimporter",   ".prefPane",
    ".saver", ".wdgt",  ".xcodeproj",     ".xcworkspace", ".playground",  ".musiclibrary",
};

bool isPackageName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  const std::string_view extension = name.substr(dot);
  return std::any_of(kPackageExtensions.begin(), kPackageExtensions.end(),
                     [&](std::string_view known) { return asciiEqualsIgnoringCase(extension, known); });
}

}  // namespace

fs::path homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return fs::path(home);
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return fs::path(found->pw_dir);
  }
  return fs::path("/");
}

std::error_code createFolders(const fs::path& folder) {
  if (folder.empty()) return std::make_error_code(std::errc::invalid_argument);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return ec;
  // create_directories reports no error when something that is not a folder
  // is already there.
  if (!fs::is_directory(folder, ec)) return ec ? ec : std::make_error_code(std::errc::not_a_directory);
  return {};
}

namespace {

fs::path folderOf(const fs::path& target) {
  return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// Gives a new file the permissions `permissions` asks for (see atomicWrite).
// The owner goes first: changing it may clear the set-id bits of the mode.
std::error_code givePermissions(int fd, const fs::path& target, WritePermissions permissions) {
  struct stat replaced {};
  if (permissions.keepReplaced && ::stat(target.c_str(), &replaced) == 0) {
    if (replaced.st_uid != ::geteuid() || replaced.st_gid != ::getegid()) {
      // Where permitted; elsewhere the file stays this user's.
      [[maybe_unused]] const int given = ::fchown(fd, replaced.st_uid, replaced.st_gid);
    }
    if (::fchmod(fd, replaced.st_mode & 07777) != 0) return lastError();
  } else if (permissions.newFileMode != 0) {
    if (::fchmod(fd, static_cast<mode_t>(permissions.newFileMode)) != 0) return lastError();
  }
  return {};
}

// Writes the pieces, joined, to a new temporary file in `folder` and
// flushes them to disk. On failure nothing is left behind.
std::error_code writeTemporary(const fs::path& folder, std::span<const std::string_view> pieces,
                               fs::path& temporary, const fs::path& target = {},
                               WritePermissions permissions = {}) {
  removeStaleTemporaryFiles(folder);
  OwnedFd fd = createTemporaryFile(folder, temporary);
  if (!fd.valid()) return lastError();
  std::error_code ec = givePermissions(fd.get(), target, permissions);
  if (!ec) ec = writeAll(fd.get(), pieces);
  if (!ec) ec = flushToDisk(fd.get());
  const std::error_code closed = closeOnce(std::move(fd));
  if (!ec) ec = closed;
  if (ec) {
    ::unlink(temporary.c_str());
    posix::exitcleanup::forgetTemporaryFile(temporary.string());
    temporary.clear();
  }
  return ec;
}

// Renames the temporary file over the target; on failure removes it.
std::error_code renameInto(const fs::path& temporary, const fs::path& target) {
  std::error_code ec;
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    ec = lastError();
    ::unlink(temporary.c_str());
  }
  posix::exitcleanup::forgetTemporaryFile(temporary.string());
  return ec;
}

std::error_code replaceAtomically(const fs::path& target, std::string_view bytes,
                                  WritePermissions permissions, const std::function<bool()>& stillCurrent) {
  fs::path temporary;
  std::error_code ec = writeTemporary(folderOf(target), {&bytes, 1}, temporary, target, permissions);
  if (!ec && stillCurrent && !stillCurrent()) {
    ::unlink(temporary.c_str());
    posix::exitcleanup::forgetTemporaryFile(temporary.string());
    return std::make_error_code(std::errc::operation_canceled);
  }
  if (!ec) ec = renameInto(temporary, target);
  if (ec) return ec;
  // Make the rename itself durable. The target is already replaced, so a
  // failure here is not reported as a failed write.
  syncFolder(folderOf(target));
  return {};
}

bool isWritableName(const fs::path& target) {
  const fs::path name = target.filename();
  return !(name.empty() || name == "." || name == "..");
}

std::error_code unlinkFile(const fs::path& file) {
  if (::unlink(file.c_str()) != 0) return lastError();
  return {};
}

}  // namespace

// On macOS the replace and the removal are coordinated (NSFileCoordinator),
// so the iCloud daemon never reads or uploads a file while it is replaced or
// removed; elsewhere the rename alone is what readers rely on.
std::error_code atomicWrite(const fs::path& target, std::string_view bytes, WritePermissions permissions,
                            const std::function<bool()>& stillCurrent) {
  if (!isWritableName(target)) return std::make_error_code(std::errc::invalid_argument);
#if defined(__APPLE__)
  return macos::coordinatedChange(target, macos::CoordinatedChange::replacing,
                                  [bytes, permissions, &stillCurrent](const fs::path& current) {
                                    return replaceAtomically(current, bytes, permissions, stillCurrent);
                                  });
#else
  return replaceAtomically(target, bytes, permissions, stillCurrent);
#endif
}

void syncFolder(const fs::path& folder) {
  const OwnedFd dirFd = openRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd.valid()) {
    while (::fsync(dirFd.get()) != 0 && errno == EINTR) {
    }
  }
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : temporary_(std::exchange(other.temporary_, {})), target_(std::move(other.target_)) {}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
  if (this != &other) {
    discard();
    temporary_ = std::exchange(other.temporary_, {});
    target_ = std::move(other.target_);
  }
  return *this;
}

void StagedFile::discard() {
  if (temporary_.empty()) return;
  ::unlink(temporary_.c_str());
  posix::exitcleanup::forgetTemporaryFile(temporary_.string());
  temporary_.clear();
}

std::error_code stageWrite(const fs::path& target, std::string_view bytes, StagedFile& staged) {
  return stageWrite(target, std::span<const std::string_view>(&bytes, 1), staged);
}

std::error_code stageWrite(const fs::path& target, std::span<const std::string_view> pieces,
                           StagedFile& staged) {
  staged.discard();
  if (!isWritableName(target)) return std::make_error_code(std::errc::invalid_argument);
  fs::path temporary;
  if (const std::error_code ec = writeTemporary(folderOf(target), pieces, temporary)) return ec;
  staged.temporary_ = std::move(temporary);
  staged.target_ = target;
  return {};
}

// The rename is coordinated on macOS, as in `atomicWrite`.
std::error_code StagedFile::commit() {
  if (temporary_.empty()) return std::make_error_code(std::errc::invalid_argument);
  const fs::path temporary = std::exchange(temporary_, {});
  bool handled = false;
  const auto put = [&](const fs::path& current) {
    handled = true;
    return renameInto(temporary, current);
  };
#if defined(__APPLE__)
  const std::error_code ec = macos::coordinatedChange(target_, macos::CoordinatedChange::replacing, put);
#else
  const std::error_code ec = put(target_);
#endif
  if (!handled) {  // the coordination failed before the rename
    ::unlink(temporary.c_str());
    posix::exitcleanup::forgetTemporaryFile(temporary.string());
  }
  return ec;
}

WholeStep WholeStep::begin() {
  WholeStep step;
  step.held_ = posix::exitcleanup::beginWholeStep();
  return step;
}

WholeStep::WholeStep(WholeStep&& other) noexcept : held_(std::exchange(other.held_, false)) {}

WholeStep& WholeStep::operator=(WholeStep&& other) noexcept {
  if (this != &other) {
    release();
    held_ = std::exchange(other.held_, false);
  }
  return *this;
}

void WholeStep::release() {
  if (std::exchange(held_, false)) posix::exitcleanup::endWholeStep();
}

FileStamp stampOf(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return {};
#if defined(__APPLE__)
  const timespec changed = info.st_ctimespec;
#else
  const timespec changed = info.st_ctim;
#endif
  return FileStamp{.present = true,
                   .device = static_cast<unsigned long long>(info.st_dev),
                   .inode = static_cast<unsigned long long>(info.st_ino),
                   .size = static_cast<unsigned long long>(info.st_size),
                   .changedSeconds = static_cast<long long>(changed.tv_sec),
                   .changedNanoseconds = static_cast<long long>(changed.tv_nsec)};
}

bool readFileInChunks(const fs::path& file, const std::function<bool(std::string_view chunk)>& consume) {
  // Opened without blocking, so a FIFO or device at the path cannot hang the
  // caller; only regular files are read, then in blocking mode.
  const OwnedFd fd = openRetrying(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (!fd.valid()) return false;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags != -1) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  // On the heap: `consume` may need the caller's whole stack (a parser).
  constexpr std::size_t kChunkSize = 65536;
  const auto buffer = std::make_unique<char[]>(kChunkSize);
  bool complete = true;
  while (true) {
    const ssize_t got = ::read(fd.get(), buffer.get(), kChunkSize);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      complete = false;
      break;
    }
    if (!consume(std::string_view(buffer.get(), static_cast<std::size_t>(got)))) {
      complete = false;
      break;
    }
  }
  return complete;
}

std::optional<std::string> readFile(const fs::path& file) {
  std::string content;
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (!ec) content.reserve(static_cast<std::size_t>(size));
  const bool read = readFileInChunks(file, [&content](std::string_view chunk) {
    content.append(chunk);
    return true;
  });
  if (!read) return std::nullopt;
  return content;
}

std::error_code removeFile(const fs::path& file) {
#if defined(__APPLE__)
  return macos::coordinatedChange(file, macos::CoordinatedChange::deleting, unlinkFile);
#else
  return unlinkFile(file);
#endif
}

bool exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::optional<std::vector<std::string>> listFolder(const fs::path& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return std::nullopt;
  std::vector<std::string> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) return std::nullopt;
  return names;
}

namespace {

// One open folder of the walk and the length of its path in the walk's path buffer.
struct OpenFolder {
  DIR* dir;
  std::size_t pathLength;
};

// The folders still open, closed also when `visit` throws.
class OpenFolders {
 public:
  ~OpenFolders() {
    for (const OpenFolder& folder : stack_) ::closedir(folder.dir);
  }
  std::vector<OpenFolder>& stack() { return stack_; }

 private:
  std::vector<OpenFolder> stack_;
};

DIR* openFolderAt(int parent, const char* name) {
  OwnedFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return nullptr;
  DIR* dir = ::fdopendir(fd.get());
  if (dir != nullptr) fd.release();  // the folder stream owns it now
  return dir;
}

}  // namespace

bool enumerateDeep(const fs::path& root, const std::function<void(const fs::path&)>& visit,
                   std::string_view onlyNamed) {
  // A walk over descriptors: each folder is opened relative to its parent,
  // entry types come from the folder listing itself (d_type), and a status
  // call is made only where the file system does not report the type. Paths
  // are built in one buffer; a path object is made only for visited entries.
  DIR* const top = ::opendir(root.c_str());
  if (top == nullptr) return false;
  std::string path = root.string();
  if (path.empty() || path.back() != '/') path += '/';
  // An explicit stack, so a deep tree cannot exhaust the thread's stack.
  OpenFolders open;
  std::vector<OpenFolder>& stack = open.stack();
  stack.push_back({top, path.size()});
  while (!stack.empty()) {
    const OpenFolder folder = stack.back();
    const dirent* entry = ::readdir(folder.dir);
    if (entry == nullptr) {
      // The end, or the rest of this folder cannot be read: skip it.
      ::closedir(folder.dir);
      stack.pop_back();
      continue;
    }
    const std::string_view name(entry->d_name);
    if (name.starts_with(".")) continue;  // hidden, and "." and ".."
    path.resize(folder.pathLength);
    path += name;
    if (onlyNamed.empty() || name == onlyNamed) visit(fs::path(path));

    bool isFolder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info {};
      isFolder = ::fstatat(::dirfd(folder.dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                 S_ISDIR(info.st_mode);
    }
    if (!isFolder || isPackageName(name)) continue;
    if (DIR* child = openFolderAt(::dirfd(folder.dir), entry->d_name)) {
      path += '/';
      stack.push_back({child, path.size()});
    }
  }
  return true;
}

}  // namespace quillory::platform::files
