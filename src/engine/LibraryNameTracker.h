#pragma once
// Which library the host has open, as the 10-second check sees it.
//
// A name reported for the first time is shown at once (`current`) and waits
// (`pending`); reported by the next check too, it settles (`known` and
// `confirmed`). A report of the settled name drops whatever was pending, so a
// name seen once in passing never settles. Names compare under canonical
// equivalence; none (no usable name, as after a time-out) equals only none.
//
// A plain value: no clock, no lock, no notification. The manager keeps one
// under its state mutex and tells the menu when a call returns true.

#include <optional>
#include <string>

namespace quillory::engine {

struct LibraryNames {
  std::optional<std::string> current;
  std::optional<std::string> known;
  std::optional<std::string> pending;
  std::optional<std::string> confirmed;
};

class LibraryNameTracker {
 public:
  // One check's report. Returns whether the menu should be told.
  bool report(const std::optional<std::string>& reported);
  // The host is not running: the shown name goes, the rest stays. Returns
  // whether a name was shown.
  bool hostNotRunning();
  // The host quit: every name goes.
  void hostQuit() { names_ = {}; }

  const LibraryNames& names() const { return names_; }

 private:
  LibraryNames names_;
};

}  // namespace quillory::engine
