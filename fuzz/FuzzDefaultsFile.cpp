// Fuzzes the settings file reader: a PlistDefaults store opened over a file
// holding the fuzzed bytes.
//
// Properties: opening never crashes or throws; every key reads back as some
// value; a file the store refuses is moved aside whole (the aside file holds
// the fuzzed bytes) and the store starts empty; after one setting is stored,
// a second store opened over the same file reads that setting back and moves
// nothing aside, so the saved file is always a complete property list. The
// scratch folder is emptied for every input, so corrupt copies do not pile up.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Files.h"
#include "platform/posix/PlistDefaults.h"

namespace {

namespace fs = std::filesystem;
using namespace quillory;

// Files in the folder other than the settings file itself.
std::vector<fs::path> asideFiles(const fs::path& folder, const fs::path& file) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path() != file) found.push_back(it->path());
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::NullLog log;
  static fuzz::FixedClock clock;
  const fs::path folder = fuzz::scratchFolder() / "settings";
  const fs::path file = folder / "test.quillory.helper.plist";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  fuzz::emptyFolder(fuzz::scratchFolder());
  fuzz::writeInput(file, bytes);

  {
    platform::posix::PlistDefaults store(file, log, clock);
    const std::vector<std::string> keys = store.keys();
    for (const std::string& key : keys) {
      const platform::DefaultsValue value = store.value(key);
      QUILLORY_FUZZ_CHECK(!value.isAbsent());
    }
    const std::vector<fs::path> aside = asideFiles(folder, file);
    if (!aside.empty()) {
      // Refused: moved aside unchanged, and the store is empty.
      QUILLORY_FUZZ_CHECK(aside.size() == 1);
      QUILLORY_FUZZ_CHECK(platform::files::readFile(aside.front()) == std::optional<std::string>(bytes));
      QUILLORY_FUZZ_CHECK(keys.empty());
      QUILLORY_FUZZ_CHECK(!platform::files::exists(file));
    }
    store.setString("autoSyncProbe", "ok");
    store.setBool("autoSyncEnabled", false);
  }

  const std::size_t asideBefore = asideFiles(folder, file).size();
  platform::posix::PlistDefaults reopened(file, log, clock);
  QUILLORY_FUZZ_CHECK(reopened.value("autoSyncProbe").asString() == std::optional<std::string>("ok"));
  QUILLORY_FUZZ_CHECK(reopened.value("autoSyncEnabled").asBool() == std::optional<bool>(false));
  QUILLORY_FUZZ_CHECK(asideFiles(folder, file).size() == asideBefore);
  return 0;
}
