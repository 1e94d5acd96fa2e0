#include "FuzzSupport.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace quillory::fuzz {

namespace fs = std::filesystem;

platform::Date FixedClock::now() const {
  using namespace std::chrono;
  return sys_days{year{2026} / December / 5} + hours{11} + minutes{32} + seconds{21};
}

namespace {

fs::path makeScratchFolder() {
  fs::path base;
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
    base = tmp;
  } else if (std::error_code ec; fs::is_directory("/dev/shm", ec)) {
    base = "/dev/shm";  // memory-backed: the atomic writes' flushes cost nothing
  } else {
    base = "/tmp";
  }
  std::string pattern = (base / "quillory-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) fail("cannot create the scratch folder");
  return pattern;
}

void removeScratchFolder() {
  std::error_code ec;
  fs::remove_all(scratchFolder(), ec);
}

}  // namespace

const fs::path& scratchFolder() {
  static const fs::path folder = [] {
    fs::path made = makeScratchFolder();
    return made;
  }();
  static const bool registered = (std::atexit(removeScratchFolder), true);
  (void)registered;
  return folder;
}

void emptyFolder(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code removeError;
    fs::remove_all(it->path(), removeError);
  }
}

void writeInput(const fs::path& file, std::string_view bytes) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) fail("cannot write the input file");
}

namespace {
std::string& failureContext() {
  static std::string text;
  return text;
}
}  // namespace

void setFailureContext(std::string text) { failureContext() = std::move(text); }

void fail(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  if (!failureContext().empty()) std::fprintf(stderr, "produced: %s\n", failureContext().c_str());
  std::abort();
}

}  // namespace quillory::fuzz
