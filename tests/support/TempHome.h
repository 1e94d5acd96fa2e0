#pragma once
// A real temporary folder under /tmp (mkdtemp), removed with everything in it
// when the object dies. Tests use it as the home folder.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace quillory::testing {

class TempHome {
 public:
  TempHome() {
    std::string pattern = "/tmp/quillory-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp failed";
      return;
    }
    // Resolve symbolic links (a /tmp that is a link) so paths compare equal.
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(pattern, ec);
    path_ = ec ? std::filesystem::path(pattern) : resolved;
  }
  ~TempHome() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / relative.
  std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

  // Writes a file below the folder, creating its parents; fails the test
  // (GoogleTest ADD_FAILURE) when it cannot.
  std::filesystem::path writeFile(const std::filesystem::path& relative, std::string_view bytes) const {
    const std::filesystem::path file = path_ / relative;
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) ADD_FAILURE() << "could not write " << file;
    return file;
  }
  // Creates a folder below the folder with its parents.
  std::filesystem::path makeFolder(const std::filesystem::path& relative) const {
    const std::filesystem::path folder = path_ / relative;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) ADD_FAILURE() << "could not create " << folder << ": " << ec.message();
    return folder;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace quillory::testing
