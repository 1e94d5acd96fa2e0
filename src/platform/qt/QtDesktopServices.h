#pragma once
// Opening files and folders through Qt's desktop services: the file manager
// or Finder for a folder, the default application for a file (on Linux
// through the desktop portal or xdg-open, on macOS through NSWorkspace). The
// call hands the path over and does not wait for the application.
// Threading: main thread.

#include "platform/DesktopServices.h"

namespace quillory::platform::qt {

class QtDesktopServices final : public DesktopServices {
 public:
  bool open(const std::filesystem::path& path) override;
};

}  // namespace quillory::platform::qt
