#include "platform/posix/JsonDefaults.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/Files.h"
#include "platform/Iso8601.h"
#include "platform/posix/OwnedFd.h"

namespace quillory::platform::posix {

namespace fs = std::filesystem;
namespace json = boost::json;

struct SettingsObject {
  json::object members;
};

namespace {

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

// "20261205T113221Z": the instant in the basic ISO 8601 form, without the
// colons that some file systems and file managers treat specially.
std::string compactTimestamp(Date date) {
  std::string text = formatIso8601(date);
  std::erase(text, '-');
  std::erase(text, ':');
  return text;
}

// Renames `from` to `to` only when nothing is at `to`.
std::error_code renameWithoutReplacing(const fs::path& from, const fs::path& to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno != EINVAL && errno != ENOSYS) return lastError();
#endif
  // Fallback: a hard link fails when the name is taken; then drop the old name.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return {};
  }
  if (errno == EEXIST) return lastError();
  // No hard links here: check, then rename (under the settings lock).
  if (files::exists(to)) return std::make_error_code(std::errc::file_exists);
  if (::rename(from.c_str(), to.c_str()) == 0) return {};
  return lastError();
}

// What is at a path, read as a settings file.
struct FileRead {
  enum class Kind { absent, notRegular, bytes, tooLarge, failed };
  Kind kind = Kind::absent;
  std::string bytes;
  std::string failure;  // for `failed`: the system's reason
  bool operator==(const FileRead&) const = default;
};

// The file's bytes when it is a regular file no larger than the limit.
FileRead readSettingsFile(const fs::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) {
    if (errno == ENOENT) return {};  // a broken link too: nothing there
    return {FileRead::Kind::failed, {}, lastError().message()};
  }
  if (!S_ISREG(info.st_mode)) return {FileRead::Kind::notRegular, {}, {}};
  FileRead read{FileRead::Kind::bytes, {}, {}};
  const bool complete = files::readFileInChunks(file, [&read](std::string_view chunk) {
    if (read.bytes.size() + chunk.size() > kMaxSettingsBytes) {
      read.kind = FileRead::Kind::tooLarge;
      return false;
    }
    read.bytes.append(chunk);
    return true;
  });
  if (read.kind == FileRead::Kind::tooLarge) read.bytes.clear();
  if (!complete && read.kind == FileRead::Kind::bytes)
    return {FileRead::Kind::failed, {}, lastError().message()};
  return read;
}

// Why a regular file read cannot be used, for the log line.
std::string whyUnreadable(const FileRead& read) {
  switch (read.kind) {
    case FileRead::Kind::tooLarge:
      return "is larger than " + std::to_string(kMaxSettingsBytes / (1024 * 1024)) + " MiB";
    case FileRead::Kind::failed:
      return "could not be read (" + read.failure + ")";
    default:
      return "is not a JSON object of settings";
  }
}

// The wall-clock time, in nanoseconds, as the kernel stamps files with it:
// compared only with files' modification times, never shown nor stored.
long long fileSystemNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// A modification time closer than this to the moment of a read proves
// nothing: a write within the same tick of a coarse clock keeps it.
constexpr long long kRacyNanoseconds = 2000000000LL;

long long modifiedNanoseconds(const struct stat& info) {
#if defined(__APPLE__)
  const timespec modified = info.st_mtimespec;
#else
  const timespec modified = info.st_mtim;
#endif
  return static_cast<long long>(modified.tv_sec) * 1000000000LL + modified.tv_nsec;
}

// The settings in a regular file under the lock, once it parses or has
// stayed unparseable and unchanged for two seconds (an editor may be
// half-way through writing it in pieces). Re-read every 50 ms meanwhile;
// without `mayWait` (one re-read at once), or after kLongestSettleWait,
// gives up (`settled` false).
struct SettledRead {
  std::shared_ptr<const SettingsObject> parsed;
  FileRead last;
  bool settled = true;
  struct stat stat {};  // taken before the read that parsed
};

SettledRead readSettled(const fs::path& file, bool mayWait) {
  const auto giveUp = std::chrono::steady_clock::now() + kLongestSettleWait;
  SettledRead result;
  std::optional<FileRead> previous;
  for (;;) {
    const bool stamped = ::stat(file.c_str(), &result.stat) == 0;
    result.last = readSettingsFile(file);
    if (result.last.kind == FileRead::Kind::bytes) {
      result.parsed = parseSettings(result.last.bytes);
      if (result.parsed) return result;
    }
    const bool quiet = stamped && fileSystemNow() - modifiedNanoseconds(result.stat) >= kRacyNanoseconds;
    if (quiet && previous == result.last) return result;
    if ((!mayWait && previous) || std::chrono::steady_clock::now() >= giveUp) {
      result.settled = false;
      return result;
    }
    if (previous) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    previous = std::move(result.last);
  }
}

DefaultsValue toDefaultsValue(const json::value& value) {
  if (value.is_bool()) return DefaultsValue(value.get_bool());
  if (value.is_string()) {
    std::string text(value.get_string());
    if (const std::optional<Date> date = parseIso8601(text))
      return DefaultsValue(DatedText{std::move(text), *date});
    return DefaultsValue(std::move(text));
  }
  return DefaultsValue(OtherValue{});
}

// The JSON form of a value set by a change (bool, string or date).
json::value toJson(const DefaultsValue& value) {
  if (const auto flag = value.asBool()) return json::value(*flag);
  if (const auto date = value.asDate()) return json::value(formatIso8601(*date));
  if (const auto text = value.asString()) return json::value(*text);
  return json::value(nullptr);
}

// Whether the member `key` holds what `expected` says (a guard of a change).
bool holds(const json::object& object, const std::string& key, const DefaultsValue& expected) {
  const auto it = object.find(key);
  const DefaultsValue stored = it == object.end() ? DefaultsValue() : toDefaultsValue(it->value());
  return stored == expected;
}

// A value as compact JSON. A number too large for a double was read as an
// infinity, which Boost.JSON would write as "Infinity" (not JSON): it is
// written as a number that reads back as the same infinity.
void writeValue(std::string& out, const json::value& value) {
  if (value.is_double() && !std::isfinite(value.get_double())) {
    out += value.get_double() < 0 ? "-1e999" : "1e999";
  } else if (value.is_array()) {
    out += '[';
    for (std::size_t i = 0; i < value.get_array().size(); ++i) {
      if (i > 0) out += ',';
      writeValue(out, value.get_array()[i]);
    }
    out += ']';
  } else if (value.is_object()) {
    out += '{';
    bool first = true;
    for (const auto& member : value.get_object()) {
      if (!first) out += ',';
      first = false;
      out += json::serialize(json::string_view(member.key()));
      out += ':';
      writeValue(out, member.value());
    }
    out += '}';
  } else {
    out += json::serialize(value);
  }
}

// One member per line, so that the file reads well and diffs well.
std::string serialized(const json::object& object) {
  std::string out = "{";
  bool first = true;
  for (const auto& member : object) {
    out += first ? "\n  " : ",\n  ";
    first = false;
    out += json::serialize(json::string_view(member.key()));
    out += ": ";
    writeValue(out, member.value());
  }
  out += first ? "}\n" : "\n}\n";
  return out;
}

// The file a write goes to: the path itself, or where its chain of symbolic
// links ends (so a link stays a link).
fs::path resolveLinks(fs::path path) {
  for (int hop = 0; hop < 40; ++hop) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error))) return path;
    const fs::path next = fs::read_symlink(path, error);
    if (error) return path;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return path;
}

}  // namespace

std::shared_ptr<const SettingsObject> parseSettings(std::string_view bytes) {
  if (bytes.size() > kMaxSettingsBytes) return nullptr;
  json::parse_options options;
  options.max_depth = kMaxSettingsNesting;
  std::error_code error;
  json::value parsed = json::parse(json::string_view(bytes.data(), bytes.size()), error, {}, options);
  if (error || !parsed.is_object()) return nullptr;
  auto object = std::make_shared<SettingsObject>();
  object->members = std::move(parsed.get_object());
  return object;
}

fs::path defaultsFileFor(const fs::path& home, const std::optional<std::string>& xdgConfigHome) {
  fs::path config;
  if (xdgConfigHome && !xdgConfigHome->empty() && fs::path(*xdgConfigHome).is_absolute()) {
    config = fs::path(*xdgConfigHome);
  } else {
    config = home / ".config";
  }
  return config / "quillory-helper" / "settings.json";
}

fs::path defaultDefaultsFile(const fs::path& home) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  return defaultsFileFor(home, xdg ? std::optional<std::string>(xdg) : std::nullopt);
}

JsonDefaults::JsonDefaults(fs::path file, Log& log, Clock& clock, Mode mode)
    : file_(std::move(file)),
      log_(log),
      clock_(clock),
      mode_(mode),
      object_(std::make_shared<SettingsObject>()) {
  if (mode_ == Mode::readWrite) {
    // An empty change sets aside a file that has stayed unreadable (under
    // the lock, if it is free: opening never waits) and writes nothing else.
    if (files::exists(file_)) (void)store(DefaultsChange(), false);
    return;
  }
  if (!current().readable) {
    log_.line("[Helper] \u26A0 Settings file " + file_.string() +
              " is not a JSON object of settings; read as empty and left as it is");
  }
}

JsonDefaults::~JsonDefaults() = default;

JsonDefaults::Stamp JsonDefaults::stampOf(const struct stat& info) {
  return Stamp{info.st_dev, info.st_ino, info.st_size, modifiedNanoseconds(info)};
}

std::optional<JsonDefaults::Stamp> JsonDefaults::stampOf(const fs::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) return std::nullopt;
  return stampOf(info);
}

std::optional<JsonDefaults::Stamp> JsonDefaults::stampNow() const { return stampOf(file_); }

JsonDefaults::Snapshot JsonDefaults::current() const {
  const long long takenAt = fileSystemNow();
  const std::optional<Stamp> now = stampNow();
  std::shared_ptr<const std::string> known;
  {
    std::lock_guard lock(stateMutex_);
    if (now == stamp_ && !racy_) return {object_, readable_};
    known = bytes_;
  }
  // Changed, or not known not to have: read outside the lock, so that other
  // readers never wait for the disk. Read after the stamp was taken, the
  // contents are at least as new as the stamp says. The same bytes as last
  // time are not parsed again.
  FileRead read = readSettingsFile(file_);
  std::shared_ptr<const SettingsObject> parsed;
  bool same = false;
  if (read.kind == FileRead::Kind::bytes) {
    same = known && *known == read.bytes;
    if (!same) parsed = parseSettings(read.bytes);
  }
  std::unique_lock lock(stateMutex_);
  stamp_ = now;
  racy_ = now && now->mtimeNanoseconds > takenAt - kRacyNanoseconds;
  switch (read.kind) {
    case FileRead::Kind::absent:
    case FileRead::Kind::notRegular:  // a folder or a device: nothing to read
      object_ = std::make_shared<SettingsObject>();
      bytes_.reset();
      readable_ = true;
      break;
    case FileRead::Kind::bytes:
      if (same) break;
      bytes_ = std::make_shared<const std::string>(std::move(read.bytes));
      readable_ = parsed != nullptr;
      if (parsed) object_ = std::move(parsed);
      break;
    case FileRead::Kind::tooLarge:
    case FileRead::Kind::failed:
      bytes_.reset();
      readable_ = false;
      break;
  }
  // Unreadable and unchanged for two seconds: set aside now, if that needs
  // no wait (the lock and this process's changes are free), so that the
  // settings last read are back for the next decision.
  if (readable_ || racy_ || mode_ == Mode::readOnly) return {object_, readable_};
  lock.unlock();
  (void)const_cast<JsonDefaults*>(this)->store(DefaultsChange(), false);
  lock.lock();
  return {object_, readable_};
}

DefaultsValue JsonDefaults::value(const std::string& key) const {
  const Snapshot snapshot = current();
  if (!snapshot.readable) return DefaultsValue(UnreadableValue{});
  const auto it = snapshot.object->members.find(key);
  if (it == snapshot.object->members.end()) return {};
  return toDefaultsValue(it->value());
}

// While the file cannot be read, the keys last read.
std::vector<std::string> JsonDefaults::keys() const {
  const std::shared_ptr<const SettingsObject> object = current().object;
  std::vector<std::string> result;
  result.reserve(object->members.size());
  for (const auto& member : object->members) result.emplace_back(member.key());
  return result;
}

StoreResult JsonDefaults::apply(const DefaultsChange& change) { return store(change, true); }

StoreResult JsonDefaults::store(const DefaultsChange& change, bool mayWait) {
  if (mode_ == Mode::readOnly) return {"the settings were opened only for reading"};
  std::unique_lock serial(changeMutex_, std::defer_lock);
  if (mayWait) {
    serial.lock();
  } else if (!serial.try_lock()) {
    return {"cannot save the settings: another change is being saved"};
  }
  if (const std::error_code error = files::createFolders(file_.parent_path())) {
    return {file_.parent_path().string() + ": " + error.message()};
  }
  // The lock beside the file the change is written to, whichever link led
  // there: every writer of that file takes the same lock.
  fs::path target;
  OwnedFd lock;
  for (int attempt = 0;; ++attempt) {
    target = resolveLinks(file_);
    const fs::path lockFile = target.string() + ".lock";
    lock = OwnedFd(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock.valid()) return {lockFile.string() + ": " + lastError().message()};
    while (::flock(lock.get(), mayWait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) return {"cannot save the settings: another program is changing them"};
      if (errno != EINTR) return {lockFile.string() + ": " + lastError().message()};
    }
    if (resolveLinks(file_) == target || attempt == 3) break;
    lock.reset();  // the link was re-pointed meanwhile
  }

  // Under the lock: the file as it is now, whoever wrote it last. An editor
  // that saves in place takes no lock: when the file changed after it was
  // read here, the change is made again on what it holds now, since
  // replacing it would leave that editor writing to a file no longer there.
  json::object members;
  std::shared_ptr<const std::string> written;  // the file's bytes once this change is done
  for (int attempt = 1;; ++attempt) {
    members = {};
    written.reset();
    bool changed = false;       // also true when keys of a file set aside are to be written back
    std::optional<Stamp> read;  // the file as it was read (none: no file)
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0) {
      if (!S_ISREG(info.st_mode))
        return {"cannot save the settings: " + target.string() + " is not a regular file"};
      SettledRead settled = readSettled(target, mayWait);
      if (settled.parsed) {
        members = settled.parsed->members;
        written = std::make_shared<const std::string>(std::move(settled.last.bytes));
        read = stampOf(settled.stat);
      } else if (!settled.settled) {
        return {"cannot save the settings: " + target.string() + " " + whyUnreadable(settled.last) +
                " and is still being changed"};
      } else {
        // What was last parsed from it is the best there is: written back.
        {
          std::lock_guard state(stateMutex_);
          members = object_->members;
        }
        if (!moveAside(target, whyUnreadable(settled.last), members.size())) {
          // Writing now would overwrite it: nothing is stored until it is gone.
          return {file_.string() + " cannot be read and could not be moved aside"};
        }
        changed = !members.empty();
      }
    } else if (errno != ENOENT) {
      return {"cannot save the settings: " + target.string() + ": " + lastError().message()};
    }

    for (const DefaultsChange::Entry& entry : change.entries()) {
      if (entry.unless && holds(members, entry.unless->first, entry.unless->second)) continue;
      if (entry.value.isAbsent()) {
        changed = members.erase(entry.key) > 0 || changed;
        continue;
      }
      json::value value = toJson(entry.value);
      const auto it = members.find(entry.key);
      if (it != members.end() && it->value() == value) continue;
      members[entry.key] = std::move(value);
      changed = true;
    }
    if (!changed) break;
    // A file the user may not write is not replaced behind its back.
    if (::access(target.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
      return {file_.string() + ": " + lastError().message()};
    }
    written = std::make_shared<const std::string>(serialized(members));
    const files::WritePermissions permissions{.keepReplaced = true, .newFileMode = 0600};
    const auto unchanged = [&target, &read] { return stampOf(target) == read; };
    const std::error_code error = files::atomicWrite(target, *written, permissions, unchanged);
    if (!error) break;
    if (error != std::errc::operation_canceled) return {file_.string() + ": " + error.message()};
    if (attempt == kMostSaveAttempts) {
      return {"cannot save the settings: " + target.string() + " kept changing while the change was saved"};
    }
  }

  auto object = std::make_shared<SettingsObject>();
  object->members = std::move(members);
  const std::optional<Stamp> stamp = stampNow();
  std::lock_guard state(stateMutex_);
  stamp_ = stamp;
  racy_ = true;  // the next read compares the bytes (unparsed when the same)
  bytes_ = std::move(written);
  object_ = std::move(object);
  readable_ = true;
  return {};
}

bool JsonDefaults::moveAside(const fs::path& file, const std::string& why, std::size_t kept) {
  const std::string base = file.filename().string() + ".corrupt-" + compactTimestamp(clock_.now());
  std::error_code error;
  for (int attempt = 1; attempt <= 1000; ++attempt) {
    const fs::path aside = file.parent_path() / (attempt == 1 ? base : base + "-" + std::to_string(attempt));
    error = renameWithoutReplacing(file, aside);
    if (!error) {
      log_.line("[Helper] \u26A0 Settings file " + file_.string() + " " + why + "; moved it to " +
                aside.string() +
                (kept == 0 ? " and started with empty settings"
                           : " and kept the " + std::to_string(kept) + " settings last read from it"));
      return true;
    }
    if (error != std::errc::file_exists) break;
  }
  log_.line("[Helper] \u26A0 Settings file " + file_.string() + " " + why +
            " and could not be moved aside (" + error.message() + "); settings will not be saved");
  return false;
}

}  // namespace quillory::platform::posix
