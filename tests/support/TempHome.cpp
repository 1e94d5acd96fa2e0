#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <system_error>

namespace quillory::testing {

namespace fs = std::filesystem;

TempHome::TempHome() {
  std::string pattern = "/tmp/quillory-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  // Resolve symbolic links (a /tmp that is a link) so paths compare equal.
  std::error_code ec;
  fs::path resolved = fs::canonical(pattern, ec);
  path_ = ec ? fs::path(pattern) : resolved;
}

TempHome::~TempHome() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path TempHome::writeFile(const fs::path& relative, std::string_view bytes) const {
  const fs::path file = path_ / relative;
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "could not write " << file;
  return file;
}

fs::path TempHome::makeFolder(const fs::path& relative) const {
  const fs::path folder = path_ / relative;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) ADD_FAILURE() << "could not create " << folder << ": " << ec.message();
  return folder;
}

}  // namespace quillory::testing
