#pragma once
// The desktop's notifications and its "open" in memory: both recorded, in
// order. `open` answers `opens`. Main thread only, like the real ones.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/DesktopServices.h"
#include "platform/Notifier.h"

namespace quillory::testing {

class FakeNotifier final : public platform::Notifier {
 public:
  void notify(const std::string& title, const std::string& body) override { sent.emplace_back(title, body); }
  std::vector<std::pair<std::string, std::string>> sent;
};

class FakeDesktopServices final : public platform::DesktopServices {
 public:
  bool open(const std::filesystem::path& path) override {
    opened.push_back(path);
    return opens;
  }
  std::vector<std::filesystem::path> opened;
  bool opens = true;
};

}  // namespace quillory::testing
