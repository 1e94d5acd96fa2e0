#pragma once
// Launch at login on Linux desktops: an XDG autostart entry,
// "<config home>/autostart/quillory-helper.desktop", the name under which the
// README and the shipped example have the user copy it.
//
// Desktop sessions read the entry of that name in the user's autostart folder
// and, when there is none, the first one found in the system's folders
// ("$XDG_CONFIG_DIRS/autostart", /etc/xdg/autostart by default). The item is
// enabled exactly when that entry exists and says neither "Hidden=true" nor
// "X-GNOME-Autostart-enabled=false" (keys of its "[Desktop Entry]" group);
// otherwise it is not registered. An entry the user placed there by hand
// counts like one the helper wrote.
//
// Registering writes a fresh user entry atomically (creating the folder when
// missing) that starts the given executable by its absolute path, and removes
// the entry that earlier versions wrote ("test.quillory.helper.desktop").
// Unregistering removes the user entry (a file already gone is not an
// error), or, when a system-wide entry would still start the helper, writes a
// user entry with "Hidden=true" over it, as the autostart rules provide; it
// removes the earlier versions' entry too. Failures return the system's
// description of what went wrong.
//
// Threading: main thread.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/LoginItemService.h"

namespace quillory::platform::qt {

// "$XDG_CONFIG_HOME/autostart", where an unset, empty or relative
// XDG_CONFIG_HOME stands for `home`/.config.
std::filesystem::path autostartFolder(const std::filesystem::path& home,
                                      const std::optional<std::string>& xdgConfigHome);

// The system's autostart folders, most important first: each folder of
// XDG_CONFIG_DIRS (absolute ones only; /etc/xdg when unset or empty) with
// "autostart" appended.
std::vector<std::filesystem::path> systemAutostartFolders(const std::optional<std::string>& xdgConfigDirs);

inline constexpr const char* kAutostartFileName = "quillory-helper.desktop";
inline constexpr const char* kEarlierAutostartFileName = "test.quillory.helper.desktop";

// The Exec value that runs `executable` with no arguments: quoted and escaped
// as desktop entries require when the path holds anything but plain
// characters.
std::string execValueFor(const std::filesystem::path& executable);
// `text` as a desktop entry's string value (TryExec's, and Exec's once
// quoted): backslash, line break, tab and carriage return escaped, and a
// leading space, which would be trimmed, as "\s".
std::string stringValueFor(const std::string& text);

class XdgLoginItemService final : public LoginItemService {
 public:
  XdgLoginItemService(std::filesystem::path autostartFolder, std::filesystem::path executable,
                      std::vector<std::filesystem::path> systemFolders = {});

  LoginItemStatus status() const override;
  std::optional<std::string> registerItem() override;
  std::optional<std::string> unregisterItem() override;

  std::filesystem::path file() const { return folder_ / kAutostartFileName; }
  std::string entryText() const;

 private:
  // The system-wide entry, when one exists.
  std::optional<std::filesystem::path> systemEntry() const;

  const std::filesystem::path folder_;
  const std::filesystem::path executable_;
  const std::vector<std::filesystem::path> systemFolders_;
};

}  // namespace quillory::platform::qt
