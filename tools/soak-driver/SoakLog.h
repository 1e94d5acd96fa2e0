#pragma once
// The helper's log during a soak: every line to a file, and counts of the
// lines that matter (kept as counts, so memory stays flat however long the
// run). Thread-safe.

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

#include "platform/Log.h"

namespace quillory::soak {

class SoakLog final : public platform::Log {
 public:
  explicit SoakLog(const std::filesystem::path& file) : out_(file) {}
  void line(const std::string& text) override;
  // Lines by kind ("exportsOk", "exportsFailed", "scriptTimeouts", ...).
  std::map<std::string, long> counts() const;
  // Failed exports by their case ("klNotResponding", "nameConflict", ...).
  std::map<std::string, long> failures() const;

 private:
  mutable std::mutex mutex_;
  std::ofstream out_;
  std::map<std::string, long> counts_;
  std::map<std::string, long> failures_;
};

}  // namespace quillory::soak
