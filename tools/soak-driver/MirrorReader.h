#pragma once
// A reader thread that plays iCloud Drive: it copies every file of the
// destination folders into a mirror, again and again, and checks each copy:
// a document must be one complete JSON object, a marker one timestamp.
// Hidden temporary files are counted as in flight, never read.

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillory::soak {

struct ReaderTotals {
  long passes = 0;
  long documentsRead = 0;
  long markersRead = 0;
  long brokenDocuments = 0;
  long brokenMarkers = 0;
  long vanished = 0;       // listed, then gone before it could be read
  long temporarySeen = 0;  // hidden temporary files met while listing (in flight)
  std::vector<std::string> problems;
};

class MirrorReader {
 public:
  MirrorReader(std::vector<std::filesystem::path> folders, std::filesystem::path mirror)
      : folders_(std::move(folders)), mirror_(std::move(mirror)) {}
  ~MirrorReader() { stop(); }

  void start();
  void stop();
  ReaderTotals totals() const;
  // One pass now, on the calling thread (used at the end, when all is quiet).
  ReaderTotals finalPass();
  // While held, the reader opens no file (so that a count of the process's
  // descriptors sees only the helper's). Returns when a pass in progress ended.
  void hold(bool held);

 private:
  void run();
  void pass();
  void copy(std::size_t index, const std::string& name, const std::string& bytes);
  void note(const std::filesystem::path& file, const std::string& bytes);

  const std::vector<std::filesystem::path> folders_;
  const std::filesystem::path mirror_;
  std::atomic<bool> stop_{false};
  std::mutex passMutex_;  // held for a whole pass
  bool held_ = false;     // guarded by passMutex_
  std::thread thread_;
  mutable std::mutex mutex_;
  ReaderTotals totals_;  // guarded by mutex_
};

}  // namespace quillory::soak
