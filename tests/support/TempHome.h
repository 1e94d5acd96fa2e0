#pragma once
// A real temporary folder under /tmp (mkdtemp), removed with everything in it
// when the object dies. Tests use it as the home folder.

#include <filesystem>
#include <string_view>

namespace quillory::testing {

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / relative.
  std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

  // Writes a file below the folder, creating its parents; fails the test
  // (GoogleTest ADD_FAILURE) when it cannot.
  std::filesystem::path writeFile(const std::filesystem::path& relative, std::string_view bytes) const;
  // Creates a folder below the folder with its parents.
  std::filesystem::path makeFolder(const std::filesystem::path& relative) const;

 private:
  std::filesystem::path path_;
};

}  // namespace quillory::testing
