#pragma once
// Typed settings over the user defaults of one domain (macOS only): the
// application's own (standard) defaults when the domain is the main bundle's
// identifier or empty, otherwise that domain's, so that the command-line front
// end reads and writes the menu-bar helper's settings.
//
// A boolean is a stored boolean object (not a number that happens to be 0 or
// 1), a string a stored string, a date a stored date; any other stored type is
// reported as another value and left as it is. Reads search the standard
// domains as the user defaults do; the key list is every key of the defaults'
// dictionary representation, which includes keys of the global domain.
// Writes are handed to the user defaults, which persist them themselves and
// keep every key its own update; a change is applied key by key (the user
// defaults have no failure path for a write, so only a key or text that is
// not valid UTF-8 fails a change, before anything of it is written).
//
// Keys and string values travel as UTF-8. A key that is not valid UTF-8 reads
// as absent and is never written; a string value that is not valid UTF-8 is
// not stored and the key keeps what it had (the change fails). A stored date that the program's
// clock cannot represent is reported as another value.
//
// Threading: any thread (the user defaults are thread-safe).

#include <memory>
#include <string>

#include "platform/Defaults.h"

namespace quillory::platform::macos {

class MacDefaults final : public Defaults {
 public:
  explicit MacDefaults(const std::string& domain = {});
  ~MacDefaults() override;
  MacDefaults(const MacDefaults&) = delete;
  MacDefaults& operator=(const MacDefaults&) = delete;

  DefaultsValue value(const std::string& key) const override;
  std::vector<std::string> keys() const override;
  StoreResult apply(const DefaultsChange& change) override;

 private:
  struct Store;  // the NSUserDefaults object
  std::unique_ptr<Store> store_;
};

}  // namespace quillory::platform::macos
