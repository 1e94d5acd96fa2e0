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
  // The value is a string of the entry file, where a backslash is written
  // twice (and a newline would end the line).
  std::string escaped;
  for (char c : out) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

XdgLoginItemService::XdgLoginItemService(std::filesystem::path autostartFolder,
                                         std::filesystem::path executable)
    : folder_(std::move(autostartFolder)), executable_(std::move(executable)) {}

std::string XdgLoginItemService::entryText() const {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Quillory Helper\n"
         "Comment=Publishes the open Kettle Ledger library to Quillory\n"
         "Exec=" +
         execValueFor(executable_) +
         "\n"
         "Icon=quillory-helper\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

LoginItemStatus XdgLoginItemService::status() const {
  const std::optional<std::string> text = files::readFile(file());
  if (!text) return LoginItemStatus::notRegistered;
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
    if (key == "Hidden" && value == "true") return LoginItemStatus::notRegistered;
    if (key == "X-GNOME-Autostart-enabled" && value == "false") return LoginItemStatus::notRegistered;
  }
  return LoginItemStatus::enabled;
}

std::optional<std::string> XdgLoginItemService::registerItem() {
  if (std::error_code error = files::createFolders(folder_)) {
    return "could not create " + folder_.string() + ": " + error.message();
  }
  if (std::error_code error = files::atomicWrite(file(), entryText())) {
    return "could not write " + file().string() + ": " + error.message();
  }
  return std::nullopt;
}

std::optional<std::string> XdgLoginItemService::unregisterItem() {
  if (!files::exists(file())) return std::nullopt;
  if (std::error_code error = files::removeFile(file())) {
    return "could not remove " + file().string() + ": " + error.message();
  }
  return std::nullopt;
}

}  // namespace quillory::platform::qt
