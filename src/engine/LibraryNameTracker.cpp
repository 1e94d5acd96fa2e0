#include "engine/LibraryNameTracker.h"

#include "platform/Unicode.h"

namespace quillory::engine {
namespace {

bool sameName(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  if (!a || !b) return !a && !b;
  return platform::canonicallyEqual(*a, *b);
}

}  // namespace

bool LibraryNameTracker::report(const std::optional<std::string>& reported) {
  if (sameName(reported, names_.known)) {
    names_.pending.reset();
    if (sameName(names_.current, reported)) return false;
    names_.current = reported;
    return true;
  }
  if (sameName(reported, names_.pending)) {
    names_.pending.reset();
    names_.confirmed = reported;
    names_.current = reported;
    names_.known = reported;
    return true;
  }
  names_.pending = reported;
  names_.current = reported;
  return true;
}

bool LibraryNameTracker::hostNotRunning() {
  if (!names_.current) return false;
  names_.current.reset();
  return true;
}

}  // namespace quillory::engine
