#include "platform/posix/JsonDefaults.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The file's bytes, or none when it cannot be read or is larger than the limit.
std::optional<std::string> readBounded(const fs::path& file) {
  std::string bytes;
  const bool read = files::readFileInChunks(file, [&bytes](std::string_view chunk) {
    if (bytes.size() + chunk.size() > kMaxSettingsBytes) return false;
    bytes.append(chunk);
    return true;
  });
  if (!read) return std::nullopt;
  return bytes;
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
      lockFile_(file_.string() + ".lock"),
      log_(log),
      clock_(clock),
      mode_(mode),
      object_(std::make_shared<SettingsObject>()) {
  if (mode_ == Mode::readWrite) {
    // An empty change sets an unreadable file aside (under the lock) and
    // writes nothing else.
    if (files::exists(file_)) (void)apply(DefaultsChange());
    return;
  }
  const std::optional<Stamp> stamp = stampNow();
  if (!stamp) return;
  const fs::path target = resolveLinks(file_);
  struct stat info {};
  if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  std::optional<std::string> bytes = readBounded(target);
  std::shared_ptr<const SettingsObject> parsed = bytes ? parseSettings(*bytes) : nullptr;
  if (!parsed) {
    log_.line("[Helper] \u26A0 Settings file " + file_.string() +
              " is not a JSON object of settings; read as empty and left as it is");
  }
}

JsonDefaults::~JsonDefaults() = default;

std::optional<JsonDefaults::Stamp> JsonDefaults::stampNow() const {
  struct stat info {};
  if (::stat(file_.c_str(), &info) != 0) return std::nullopt;
#if defined(__APPLE__)
  const timespec modified = info.st_mtimespec;
#else
  const timespec modified = info.st_mtim;
#endif
  return Stamp{info.st_dev, info.st_ino, info.st_size,
               static_cast<long long>(modified.tv_sec) * 1000000000LL + modified.tv_nsec};
}

std::shared_ptr<const SettingsObject> JsonDefaults::current() const {
  const std::optional<Stamp> now = stampNow();
  {
    std::lock_guard lock(stateMutex_);
    if (now == stamp_) return object_;
  }
  // Changed: read outside the lock, so that other readers never wait for
  // the disk. Read after the stamp was taken, the contents are at least as
  // new as the stamp says; a later change is seen at the next read.
  std::shared_ptr<const SettingsObject> loaded;
  if (!now) {
    loaded = std::make_shared<SettingsObject>();  // no file: an empty store
  } else {
    struct stat info {};
    const bool regular = ::stat(file_.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (!regular) {
      loaded = std::make_shared<SettingsObject>();  // a folder or a device: nothing to read
    } else if (std::optional<std::string> bytes = readBounded(file_)) {
      loaded = parseSettings(*bytes);
    }
  }
  std::lock_guard lock(stateMutex_);
  stamp_ = now;
  if (loaded) object_ = std::move(loaded);  // an unreadable file keeps the last contents read
  return object_;
}

DefaultsValue JsonDefaults::value(const std::string& key) const {
  const std::shared_ptr<const SettingsObject> object = current();
  const auto it = object->members.find(key);
  if (it == object->members.end()) return {};
  return toDefaultsValue(it->value());
}

std::vector<std::string> JsonDefaults::keys() const {
  const std::shared_ptr<const SettingsObject> object = current();
  std::vector<std::string> result;
  result.reserve(object->members.size());
  for (const auto& member : object->members) result.emplace_back(member.key());
  return result;
}

StoreResult JsonDefaults::apply(const DefaultsChange& change) {
  if (mode_ == Mode::readOnly) return {"the settings were opened only for reading"};
  std::lock_guard serial(changeMutex_);
  if (const std::error_code error = files::createFolders(file_.parent_path())) {
    return {file_.parent_path().string() + ": " + error.message()};
  }
  const OwnedFd lock(::open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock.valid()) return {lockFile_.string() + ": " + lastError().message()};
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return {lockFile_.string() + ": " + lastError().message()};
  }

  // Under the lock: the file as it is now, whoever wrote it last.
  const fs::path target = resolveLinks(file_);
  json::object members;
  bool changed = false;  // also true when keys of a file set aside are to be written back
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0) {
    if (S_ISREG(info.st_mode)) {
      const std::optional<std::string> bytes = readBounded(target);
      std::shared_ptr<const SettingsObject> parsed = bytes ? parseSettings(*bytes) : nullptr;
      // What was last read from it is the best there is if it cannot be read
      // now: taken before it is moved (a reader meanwhile finds no file).
      const std::shared_ptr<const SettingsObject> lastRead = parsed ? nullptr : current();
      if (parsed) {
        members = parsed->members;
      } else if (moveAside(target, bytes ? "is not a JSON object of settings" : "could not be read")) {
        members = lastRead->members;
        changed = !members.empty();
      } else {
        // Writing now would overwrite it: nothing is stored until it is gone.
        return {file_.string() + " cannot be read and could not be moved aside"};
      }
    }
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
  if (changed) {
    // A file the user may not write is not replaced behind its back.
    if (::access(target.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
      return {file_.string() + ": " + lastError().message()};
    }
    if (const std::error_code error = files::atomicWrite(target, serialized(members))) {
      return {file_.string() + ": " + error.message()};
    }
  }

  auto object = std::make_shared<SettingsObject>();
  object->members = std::move(members);
  const std::optional<Stamp> stamp = stampNow();
  std::lock_guard state(stateMutex_);
  stamp_ = stamp;
  object_ = std::move(object);
  return {};
}

bool JsonDefaults::moveAside(const fs::path& file, const std::string& why) {
  const std::string base = file.filename().string() + ".corrupt-" + compactTimestamp(clock_.now());
  std::error_code error;
  for (int attempt = 1; attempt <= 1000; ++attempt) {
    const fs::path aside = file.parent_path() / (attempt == 1 ? base : base + "-" + std::to_string(attempt));
    error = renameWithoutReplacing(file, aside);
    if (!error) {
      log_.line("[Helper] \u26A0 Settings file " + file_.string() + " " + why + "; moved it to " +
                aside.string() + " and started with empty settings");
      return true;
    }
    if (error != std::errc::file_exists) break;
  }
  log_.line("[Helper] \u26A0 Settings file " + file_.string() + " " + why +
            " and could not be moved aside (" + error.message() + "); settings will not be saved");
  return false;
}

}  // namespace quillory::platform::posix
