#include "platform/qt/XdgLoginItemService.h"

#include <sstream>

#include "platform/Files.h"

namespace quillory::platform::qt {
namespace {

std::string trimmed(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  const auto end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

// Whether a desktop session starts the entry: it can be read and its
// "[Desktop Entry]" group says neither "Hidden=true" nor
// "X-GNOME-Autostart-enabled=false".
bool entryStarts(const std::filesystem::path& entry) {
  const std::optional<std::string> text = files::readFile(entry);
  if (!text) return false;
  std::istringstream lines(*text);
  std::string line;
  bool inEntryGroup = false;
  while (std::getline(lines, line)) {
    line = trimmed(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inEntryGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntryGroup) continue;
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = trimmed(line.substr(0, equals));
    const std::string value = trimmed(line.substr(equals + 1));
    if (key == "Hidden" && value == "true") return false;
    if (key == "X-GNOME-Autostart-enabled" && value == "false") return false;
  }
  return true;
}

// Removes the entry; one already gone is no failure.
std::optional<std::string> removeEntry(const std::filesystem::path& entry) {
  if (!files::exists(entry)) return std::nullopt;
  if (std::error_code error = files::removeFile(entry)) {
    return "could not remove " + entry.string() + ": " + error.message();
  }
  return std::nullopt;
}

}  // namespace

std::filesystem::path autostartFolder(const std::filesystem::path& home,
                                      const std::optional<std::string>& xdgConfigHome) {
  if (xdgConfigHome && !xdgConfigHome->empty() && std::filesystem::path(*xdgConfigHome).is_absolute()) {
    return std::filesystem::path(*xdgConfigHome) / "autostart";
  }
  return home / ".config" / "autostart";
}

std::string execValueFor(const std::filesystem::path& executable) {
  const std::string path = executable.string();
  std::string out;
  bool needsQuotes = false;
  for (char c : path) {
    switch (c) {
      // Reserved characters that make quoting necessary.
      case ' ':
      case '\t':
      case '\n':
      case '\'':
      case '>':
      case '<':
      case '~':
      case '|':
      case '&':
      case ';':
      case '*':
      case '?':
      case '#':
      case '(':
      case ')':
      case '=':
        needsQuotes = true;
        out += c;
        break;
      // Inside quotes these take a backslash.
      case '"':
      case '`':
      case '$':
      case '\\':
        needsQuotes = true;
        out += '\\';
        out += c;
        break;
      case '%':  // field codes
        out += "%%";
        break;
      default:
        out += c;
    }
  }
  if (needsQuotes) out = "\"" + out + "\"";
  return stringValueFor(out);
}

std::string stringValueFor(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case ' ':
        escaped += escaped.empty() ? "\\s" : " ";  // a leading space would be trimmed
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::vector<std::filesystem::path> systemAutostartFolders(const std::optional<std::string>& xdgConfigDirs) {
  std::vector<std::filesystem::path> folders;
  std::istringstream dirs(xdgConfigDirs.value_or(""));
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (std::filesystem::path(dir).is_absolute()) folders.push_back(std::filesystem::path(dir) / "autostart");
  }
  if (folders.empty()) folders.push_back("/etc/xdg/autostart");
  return folders;
}

XdgLoginItemService::XdgLoginItemService(std::filesystem::path autostartFolder,
                                         std::filesystem::path executable,
                                         std::vector<std::filesystem::path> systemFolders)
    : folder_(std::move(autostartFolder)),
      executable_(std::move(executable)),
      systemFolders_(std::move(systemFolders)) {}

std::string XdgLoginItemService::entryText() const {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Quillory Helper\n"
         "Comment=Publishes the open Kettle Ledger library to Quillory\n"
         "Exec=" +
         execValueFor(executable_) +
         "\n"
         // A desktop that finds no program there (the helper was removed)
         // skips the entry instead of failing at every login.
         "TryExec=" +
         stringValueFor(executable_.string()) +
         "\n"
         "Icon=quillory-helper\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

std::optional<std::filesystem::path> XdgLoginItemService::systemEntry() const {
  for (const auto& folder : systemFolders_) {
    if (files::exists(folder / kAutostartFileName)) return folder / kAutostartFileName;
  }
  return std::nullopt;
}

LoginItemStatus XdgLoginItemService::status() const {
  // The user's entry hides the system's of the same name, also when it cannot
  // be read; the earlier versions' entry starts the helper as well.
  if (files::exists(file()))
    return entryStarts(file()) ? LoginItemStatus::enabled : LoginItemStatus::notRegistered;
  if (entryStarts(folder_ / kEarlierAutostartFileName)) return LoginItemStatus::enabled;
  const auto system = systemEntry();
  return system && entryStarts(*system) ? LoginItemStatus::enabled : LoginItemStatus::notRegistered;
}

std::optional<std::string> XdgLoginItemService::registerItem() {
  if (std::error_code error = files::createFolders(folder_)) {
    return "could not create " + folder_.string() + ": " + error.message();
  }
  if (std::error_code error = files::atomicWrite(file(), entryText())) {
    return "could not write " + file().string() + ": " + error.message();
  }
  return removeEntry(folder_ / kEarlierAutostartFileName);
}

std::optional<std::string> XdgLoginItemService::unregisterItem() {
  if (auto error = removeEntry(folder_ / kEarlierAutostartFileName)) return error;
  const auto system = systemEntry();
  if (!system || !entryStarts(*system)) return removeEntry(file());
  // A user entry that is hidden switches the system's entry off for this user.
  if (std::error_code error = files::createFolders(folder_)) {
    return "could not create " + folder_.string() + ": " + error.message();
  }
  if (std::error_code error = files::atomicWrite(
          file(), "[Desktop Entry]\nType=Application\nName=Quillory Helper\nHidden=true\n")) {
    return "could not write " + file().string() + ": " + error.message();
  }
  return std::nullopt;
}

}  // namespace quillory::platform::qt
