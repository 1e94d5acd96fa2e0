#pragma once
// Opening a file or a folder the way the desktop opens it: a folder in the
// file manager (Finder), a file in the application the user chose for its
// kind (a log in the text viewer).
//
// Contract: `open` hands the path to the desktop and returns whether the
// desktop took it; it does not wait for the application to start.
// Threading: main thread.

#include <filesystem>

namespace quillory::platform {

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;
  virtual bool open(const std::filesystem::path& path) = 0;
};

}  // namespace quillory::platform
