#include "MirrorReader.h"

#include <chrono>
#include <fstream>

#include "platform/Files.h"
#include "support/PublishedFiles.h"

namespace quillory::soak {

namespace fs = std::filesystem;

void MirrorReader::start() {
  thread_ = std::thread([this] { run(); });
}

void MirrorReader::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

ReaderTotals MirrorReader::totals() const {
  std::lock_guard lock(mutex_);
  return totals_;
}

ReaderTotals MirrorReader::finalPass() {
  pass();
  return totals();
}

void MirrorReader::hold(bool held) {
  std::lock_guard lock(passMutex_);
  held_ = held;
}

void MirrorReader::run() {
  while (!stop_) {
    {
      std::lock_guard lock(passMutex_);
      if (!held_) pass();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void MirrorReader::pass() {
  for (std::size_t index = 0; index < folders_.size(); ++index) {
    const fs::path& folder = folders_[index];
    const auto entries = platform::files::listFolder(folder);
    if (!entries) continue;
    for (const std::string& name : *entries) {
      if (name.starts_with('.')) {
        std::lock_guard lock(mutex_);
        ++totals_.temporarySeen;
        continue;
      }
      const auto bytes = platform::files::readFile(folder / name);
      std::lock_guard lock(mutex_);
      if (!bytes) {
        ++totals_.vanished;
        continue;
      }
      copy(index, name, *bytes);
      if (name.size() > 5 && name.ends_with(".json")) {
        ++totals_.documentsRead;
        if (!testing::isCompleteDocument(*bytes)) {
          ++totals_.brokenDocuments;
          note(folder / name, *bytes);
        }
      } else if (name.size() > 12 && name.ends_with("_updated.txt")) {
        ++totals_.markersRead;
        if (!testing::isCompleteMarker(*bytes)) {
          ++totals_.brokenMarkers;
          note(folder / name, *bytes);
        }
      }
    }
  }
  std::lock_guard lock(mutex_);
  ++totals_.passes;
}

// Keeps the mirror like iCloud Drive keeps its copy: the last bytes read.
void MirrorReader::copy(std::size_t index, const std::string& name, const std::string& bytes) {
  const fs::path target = mirror_ / std::to_string(index) / name;
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  std::ofstream(target, std::ios::binary | std::ios::trunc) << bytes;
}

void MirrorReader::note(const fs::path& file, const std::string& bytes) {
  if (totals_.problems.size() < 20) totals_.problems.push_back(file.string() + ": " + bytes.substr(0, 120));
}

}  // namespace quillory::soak
