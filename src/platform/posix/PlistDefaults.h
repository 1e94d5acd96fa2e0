#pragma once
// The settings store on systems without a user-defaults service: one XML
// property list file, read and written with libplist. (A binary property list
// at the path is read as well; it is written back as XML.)
//
// The file is read once, at construction. Every set and remove changes the
// in-memory property list and saves the whole list at once with an atomic
// file replacement, so the file on disk is always a complete list. Values of
// types the program does not use (integer, real, data, array, dictionary, uid)
// stay in the in-memory list untouched and are written back as they were.
//
// A missing file is an empty store. A file that cannot be read as a property
// list whose top level is a dictionary (also one nested deeper than
// kMaxPlistNesting, checked before libplist reads it) is renamed aside to
// "<name>.corrupt-<timestamp>" (with a counter when that name is taken; it is
// never overwritten or deleted), the store starts empty, and one "[Helper] ⚠"
// line says where the old file went. A save that fails leaves the previous
// file as it was and the new value in memory, and logs one "[Helper] ⚠" line.
// When an unreadable file cannot be moved aside either, the store never saves
// (saving would overwrite it) and says so in its line.
//
// Dates are kept to the whole second, as the XML form stores them. Keys and
// strings holding a NUL character cannot be stored (C strings); such a set is
// refused with a log line and such a key reads as absent.
// A file holding one (a binary list can) is taken as unreadable.
// If someone else replaces the file while the program runs, the store keeps
// its own state and overwrites the file on its next save.
//
// Threading: any thread; one mutex guards the list and the saving.

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Log.h"

namespace quillory::platform::posix {

// "$XDG_CONFIG_HOME/quillory-helper/test.quillory.helper.plist", where an unset,
// empty or relative XDG_CONFIG_HOME stands for `home`/.config.
std::filesystem::path defaultDefaultsFile(const std::filesystem::path& home);

// The same, with the value of XDG_CONFIG_HOME passed in (none when unset).
std::filesystem::path defaultsFileFor(const std::filesystem::path& home,
                                      const std::optional<std::string>& xdgConfigHome);

class PlistDefaults final : public Defaults {
 public:
  PlistDefaults(std::filesystem::path file, Log& log, Clock& clock);
  ~PlistDefaults() override;
  PlistDefaults(const PlistDefaults&) = delete;
  PlistDefaults& operator=(const PlistDefaults&) = delete;

  DefaultsValue value(const std::string& key) const override;
  void setBool(const std::string& key, bool value) override;
  void setString(const std::string& key, const std::string& value) override;
  void setDate(const std::string& key, Date value) override;
  void remove(const std::string& key) override;
  std::vector<std::string> keys() const override;

  const std::filesystem::path& file() const { return file_; }

 private:
  void load();
  void moveAside(const std::string& why);
  void setItem(const std::string& key, void* node);
  void save();

  const std::filesystem::path file_;
  Log& log_;
  Clock& clock_;
  mutable std::mutex mutex_;
  void* root_ = nullptr;         // plist_t, a PLIST_DICT; guarded by mutex_
  bool savingDisabled_ = false;  // set when an unreadable file could not be moved aside
};

}  // namespace quillory::platform::posix
