// Fuzzes the settings file reader: a JsonDefaults store opened over a file
// holding the fuzzed bytes (nesting, size, NUL in keys, values of the wrong
// type, broken UTF-8).
//
// Properties: opening never crashes or throws; every key reads back as some
// value; a file the store refuses is moved aside whole (the aside file holds
// the fuzzed bytes) and the store starts empty; a file it takes keeps every
// key through a change of other keys, with the same value; after the change,
// a second store over the same file reads it back and moves nothing aside,
// so the written file is always a complete settings object. The scratch
// folder is emptied for every input, so corrupt copies do not pile up.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Files.h"
#include "platform/posix/JsonDefaults.h"

namespace {

namespace fs = std::filesystem;
using namespace quillory;

// Files in the folder other than the settings file and its lock file.
std::vector<fs::path> asideFiles(const fs::path& folder, const fs::path& file) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path() != file && it->path().string() != file.string() + ".lock") found.push_back(it->path());
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::NullLog log;
  static fuzz::FixedClock clock;
  const fs::path folder = fuzz::scratchFolder() / "settings";
  const fs::path file = folder / "settings.json";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  fuzz::emptyFolder(fuzz::scratchFolder());
  fuzz::writeInput(file, bytes);

  std::map<std::string, platform::DefaultsValue> before;
  {
    platform::posix::JsonDefaults store(file, log, clock);
    for (const std::string& key : store.keys()) {
      const platform::DefaultsValue value = store.value(key);
      QUILLORY_FUZZ_CHECK(!value.isAbsent());
      if (key != "autoSyncProbe" && key != "autoSyncEnabled") before[key] = value;
    }
    const std::vector<fs::path> aside = asideFiles(folder, file);
    if (!aside.empty()) {
      // Refused: moved aside unchanged, and the store is empty.
      QUILLORY_FUZZ_CHECK(aside.size() == 1);
      QUILLORY_FUZZ_CHECK(platform::files::readFile(aside.front()) == std::optional<std::string>(bytes));
      QUILLORY_FUZZ_CHECK(before.empty());
      QUILLORY_FUZZ_CHECK(!platform::files::exists(file));
    }
    QUILLORY_FUZZ_CHECK(
        store
            .apply(
                platform::DefaultsChange().setString("autoSyncProbe", "ok").setBool("autoSyncEnabled", false))
            .stored());
  }

  const std::size_t asideBefore = asideFiles(folder, file).size();
  platform::posix::JsonDefaults reopened(file, log, clock);
  QUILLORY_FUZZ_CHECK(reopened.value("autoSyncProbe").asString() == std::optional<std::string>("ok"));
  QUILLORY_FUZZ_CHECK(reopened.value("autoSyncEnabled").asBool() == std::optional<bool>(false));
  for (const auto& [key, value] : before) {
    QUILLORY_FUZZ_CHECK(reopened.value(key).asBool() == value.asBool());
    QUILLORY_FUZZ_CHECK(reopened.value(key).asString() == value.asString());
    QUILLORY_FUZZ_CHECK(reopened.value(key).asDate() == value.asDate());
  }
  QUILLORY_FUZZ_CHECK(asideFiles(folder, file).size() == asideBefore);
  return 0;
}
