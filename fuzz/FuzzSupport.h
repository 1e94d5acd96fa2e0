#pragma once
// What the fuzz targets share: a log that drops its lines, a clock that stands
// still, and one scratch folder per fuzzing process (settings in memory are
// the tests' MemoryDefaults).
//
// The scratch folder is made with mkdtemp under $TMPDIR (else /dev/shm, else
// /tmp) and removed with everything in it when the process exits normally, so
// a fuzzing run leaves nothing behind. Each target empties it between inputs.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Log.h"

namespace quillory::fuzz {

class NullLog final : public platform::Log {
 public:
  void line(const std::string&) override {}
};

// 2026-12-05T11:32:21Z, always, and a monotonic reading that stands still;
// sleeping does nothing.
class FixedClock final : public platform::Clock {
 public:
  platform::Date now() const override;
  platform::MonotonicTime monotonicNow() const override { return platform::MonotonicTime{}; }
  void sleepFor(std::chrono::milliseconds) override {}
};

// The process's scratch folder (created on first use).
const std::filesystem::path& scratchFolder();
// Removes everything inside `folder`, keeping the folder.
void emptyFolder(const std::filesystem::path& folder);
// Writes `bytes` to `file` plainly (not atomically); aborts when it cannot,
// since a fuzz target that cannot set up its input tests nothing.
void writeInput(const std::filesystem::path& file, std::string_view bytes);

// Text printed with a broken property's message (what the target produced).
void setFailureContext(std::string text);

// Stops the process with a message: a broken property, for the fuzzer to
// record as a crash.
[[noreturn]] void fail(const char* what);
#define QUILLORY_FUZZ_CHECK(condition)                    \
  do {                                                    \
    if (!(condition)) ::quillory::fuzz::fail(#condition); \
  } while (false)

}  // namespace quillory::fuzz
