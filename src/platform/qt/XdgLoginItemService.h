#pragma once
// Launch at login on Linux desktops: an XDG autostart entry,
// "<config home>/autostart/test.quillory.helper.desktop".
//
// The item is enabled exactly when the file exists and says neither
// "Hidden=true" nor "X-GNOME-Autostart-enabled=false" (keys of its
// "[Desktop Entry]" group, as desktop sessions read them); otherwise it is not
// registered. Registering writes a fresh entry atomically (creating the folder
// when missing) that starts the given executable by its absolute path;
// unregistering removes the file (a file already gone is not an error).
// Failures return the system's description of what went wrong.
//
// Threading: main thread.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/LoginItemService.h"

namespace quillory::platform::qt {

// "$XDG_CONFIG_HOME/autostart", where an unset, empty or relative
// XDG_CONFIG_HOME stands for `home`/.config.
std::filesystem::path autostartFolder(const std::filesystem::path& home,
                                      const std::optional<std::string>& xdgConfigHome);

inline constexpr const char* kAutostartFileName = "test.quillory.helper.desktop";

// The Exec value that runs `executable` with no arguments: quoted and escaped
// as desktop entries require when the path holds anything but plain
// characters.
std::string execValueFor(const std::filesystem::path& executable);

class XdgLoginItemService final : public LoginItemService {
 public:
  XdgLoginItemService(std::filesystem::path autostartFolder, std::filesystem::path executable);

  LoginItemStatus status() const override;
  std::optional<std::string> registerItem() override;
  std::optional<std::string> unregisterItem() override;

  std::filesystem::path file() const { return folder_ / kAutostartFileName; }
  std::string entryText() const;

 private:
  const std::filesystem::path folder_;
  const std::filesystem::path executable_;
};

}  // namespace quillory::platform::qt
