#include "platform/posix/PlistDefaults.h"

#include <errno.h>
#include <fcntl.h>
#include <plist/plist.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <set>

#include "platform/Files.h"
#include "platform/posix/PlistNesting.h"

namespace quillory::platform::posix {

namespace fs = std::filesystem;

namespace {

// Property-list dates count seconds from 2001-01-01T00:00:00Z.
constexpr std::int64_t kPlistEpochUnixSeconds = 978307200;

plist_t asPlist(void* node) { return static_cast<plist_t>(node); }

Date dateFromPlist(plist_t node) {
  std::int32_t seconds = 0;
  std::int32_t micros = 0;
  plist_get_date_val(node, &seconds, &micros);
  return Date(std::chrono::duration_cast<Date::duration>(
      std::chrono::seconds(kPlistEpochUnixSeconds + seconds) + std::chrono::microseconds(micros)));
}

// The XML form keeps whole seconds only, so the value is floored here: what
// is read back before a restart equals what is read after it. The format's
// 32-bit seconds cover 1933 to 2069; dates outside are clamped to its ends.
plist_t plistFromDate(Date date) {
  const auto unixSeconds = std::chrono::floor<std::chrono::seconds>(date).time_since_epoch().count();
  std::int64_t seconds = static_cast<std::int64_t>(unixSeconds) - kPlistEpochUnixSeconds;
  if (seconds > std::numeric_limits<std::int32_t>::max()) seconds = std::numeric_limits<std::int32_t>::max();
  if (seconds < std::numeric_limits<std::int32_t>::min()) seconds = std::numeric_limits<std::int32_t>::min();
  return plist_new_date(static_cast<std::int32_t>(seconds), 0);
}

// "20261205T113221Z": the instant in the basic ISO 8601 form, without the
// colons that some file systems and the Finder treat specially.
std::string compactTimestamp(Date date) {
  using namespace std::chrono;
  const auto secs = floor<seconds>(date);
  const auto day = floor<days>(secs);
  const year_month_day ymd{day};
  const hh_mm_ss<seconds> time{secs - day};
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d%02u%02uT%02d%02d%02dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return buffer;
}

// Renames `from` to `to` only when nothing is at `to`.
std::error_code renameWithoutReplacing(const fs::path& from, const fs::path& to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno != EINVAL && errno != ENOSYS) return std::error_code(errno, std::generic_category());
#endif
  // Fallback: a hard link fails when the name is taken; then drop the old name.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return {};
  }
  if (errno == EEXIST) return std::error_code(errno, std::generic_category());
  // No hard links here (or `from` is a folder): check, then rename. Another
  // process could slip in between; this store is the file's only writer.
  if (files::exists(to)) return std::make_error_code(std::errc::file_exists);
  if (::rename(from.c_str(), to.c_str()) == 0) return {};
  return std::error_code(errno, std::generic_category());
}

bool hasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// True when a key or string anywhere in the list holds a NUL character (or
// the list cannot be written out). libplist reads such keys from a binary
// list but aborts on an assertion when one is read back by name
// (plist_dict_next_item), so a file holding one must not be taken. Its XML
// writer copies keys and strings by length, which makes the NUL visible.
bool holdsNul(plist_t list) {
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(list, &xml, &length);
  if (xml == nullptr) return true;
  const bool found = std::memchr(xml, '\0', length) != nullptr;
  plist_to_xml_free(xml);
  return found;
}

// Calls `visit` with every key and value of the dictionary, in its order.
void forEachEntry(plist_t dict, const std::function<void(const char* key, plist_t value)>& visit) {
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(dict, &iter);
  while (iter != nullptr) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dict, iter, &key, &value);
    if (key == nullptr) break;
    visit(key, value);
    std::free(key);
  }
  std::free(iter);
}

// A binary list can name one key twice in a dictionary, and libplist keeps
// both entries: a set would then change one while a reload reads the other.
// Returns the dictionary with one entry per key, the last one winning (as
// reading the XML form does); the list is consumed.
plist_t withUniqueKeys(plist_t dict) {
  std::set<std::string> seen;
  bool duplicates = false;
  forEachEntry(dict, [&](const char* key, plist_t) { duplicates = duplicates || !seen.insert(key).second; });
  if (!duplicates) return dict;

  plist_t unique = plist_new_dict();
  forEachEntry(dict,
               [&](const char* key, plist_t value) { plist_dict_set_item(unique, key, plist_copy(value)); });
  plist_free(dict);
  return unique;
}

}  // namespace

fs::path defaultsFileFor(const fs::path& home, const std::optional<std::string>& xdgConfigHome) {
  fs::path config;
  if (xdgConfigHome && !xdgConfigHome->empty() && fs::path(*xdgConfigHome).is_absolute()) {
    config = fs::path(*xdgConfigHome);
  } else {
    config = home / ".config";
  }
  return config / "quillory-helper" / "test.quillory.helper.plist";
}

fs::path defaultDefaultsFile(const fs::path& home) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  return defaultsFileFor(home, xdg ? std::optional<std::string>(xdg) : std::nullopt);
}

PlistDefaults::PlistDefaults(fs::path file, Log& log, Clock& clock)
    : file_(std::move(file)), log_(log), clock_(clock) {
  std::lock_guard lock(mutex_);
  load();
}

PlistDefaults::~PlistDefaults() {
  if (root_ != nullptr) plist_free(asPlist(root_));
}

void PlistDefaults::load() {
  root_ = plist_new_dict();
  if (!files::exists(file_)) {
    std::error_code ec;
    // A dangling symbolic link is "nothing" too, but it is not ours to replace
    // silently: treat it like any other unreadable file.
    if (!fs::is_symlink(fs::symlink_status(file_, ec))) return;
  }
  const std::optional<std::string> bytes = files::readFile(file_);
  if (!bytes) {
    moveAside("could not be read");
    return;
  }
  plist_t parsed = nullptr;
  // libplist recurses once per level: the nesting is bounded before it reads.
  if (!bytes->empty() && bytes->size() <= std::numeric_limits<std::uint32_t>::max() &&
      plistNestingWithin(*bytes)) {
    plist_from_memory(bytes->data(), static_cast<std::uint32_t>(bytes->size()), &parsed);
  }
  if (parsed == nullptr || plist_get_node_type(parsed) != PLIST_DICT || holdsNul(parsed)) {
    if (parsed != nullptr) plist_free(parsed);
    moveAside("is not a property list of settings");
    return;
  }
  plist_free(asPlist(root_));
  root_ = withUniqueKeys(parsed);
}

void PlistDefaults::moveAside(const std::string& why) {
  const std::string base = file_.filename().string() + ".corrupt-" + compactTimestamp(clock_.now());
  std::error_code ec;
  for (int attempt = 1; attempt <= 1000; ++attempt) {
    const fs::path aside = file_.parent_path() / (attempt == 1 ? base : base + "-" + std::to_string(attempt));
    ec = renameWithoutReplacing(file_, aside);
    if (!ec) {
      log_.line("[Helper] ⚠ Settings file " + file_.string() + " " + why + "; moved it to " + aside.string() +
                " and started with empty settings");
      return;
    }
    if (ec != std::errc::file_exists) break;
  }
  // The old file stays where it is, so saving would overwrite it: this store
  // keeps its settings in memory only until the program ends.
  savingDisabled_ = true;
  log_.line("[Helper] ⚠ Settings file " + file_.string() + " " + why + " and could not be moved aside (" +
            ec.message() + "); settings will not be saved");
}

DefaultsValue PlistDefaults::value(const std::string& key) const {
  if (hasNul(key)) return {};
  std::lock_guard lock(mutex_);
  plist_t node = plist_dict_get_item(asPlist(root_), key.c_str());
  if (node == nullptr) return {};
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t flag = 0;
      plist_get_bool_val(node, &flag);
      return DefaultsValue(flag != 0);
    }
    case PLIST_STRING: {
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      return DefaultsValue(text == nullptr ? std::string()
                                           : std::string(text, static_cast<std::size_t>(length)));
    }
    case PLIST_DATE:
      return DefaultsValue(dateFromPlist(node));
    default:
      return DefaultsValue(OtherValue{});
  }
}

void PlistDefaults::setBool(const std::string& key, bool value) {
  setItem(key, plist_new_bool(value ? 1 : 0));
}

void PlistDefaults::setString(const std::string& key, const std::string& value) {
  if (hasNul(value)) {
    log_.line("[Helper] ⚠ Setting " + key.substr(0, key.find('\0')) +
              " not stored: its text holds a NUL character");
    return;
  }
  setItem(key, plist_new_string(value.c_str()));
}

void PlistDefaults::setDate(const std::string& key, Date value) { setItem(key, plistFromDate(value)); }

void PlistDefaults::setItem(const std::string& key, void* node) {
  if (hasNul(key)) {
    plist_free(asPlist(node));
    log_.line("[Helper] ⚠ Setting not stored: its key holds a NUL character");
    return;
  }
  std::lock_guard lock(mutex_);
  plist_dict_set_item(asPlist(root_), key.c_str(), asPlist(node));  // takes ownership, frees the old value
  save();
}

void PlistDefaults::remove(const std::string& key) {
  if (hasNul(key)) return;
  std::lock_guard lock(mutex_);
  if (plist_dict_get_item(asPlist(root_), key.c_str()) == nullptr) return;
  plist_dict_remove_item(asPlist(root_), key.c_str());
  save();
}

std::vector<std::string> PlistDefaults::keys() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> result;
  forEachEntry(asPlist(root_), [&](const char* key, plist_t) { result.emplace_back(key); });
  return result;
}

void PlistDefaults::save() {
  if (savingDisabled_) return;
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(asPlist(root_), &xml, &length);
  if (xml == nullptr) {
    log_.line("[Helper] ⚠ Could not save settings to " + file_.string() + ": they could not be serialised");
    return;
  }
  const std::string bytes(xml, length);
  plist_to_xml_free(xml);
  std::error_code ec = files::createFolders(file_.parent_path());
  if (!ec) ec = files::atomicWrite(file_, bytes);
  if (ec) log_.line("[Helper] ⚠ Could not save settings to " + file_.string() + ": " + ec.message());
}

}  // namespace quillory::platform::posix
