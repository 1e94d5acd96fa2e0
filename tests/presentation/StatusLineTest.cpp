#include <gtest/gtest.h>

#include "presentation/StatusLine.h"

namespace quillory::presentation {
namespace {

// A running sync wins over an error left from the run before, an error over
// a standing notice (no script launcher), and that over the last sync's date.
TEST(StatusLine, ShowsTheStateThatComesFirst) {
  const platform::Date date{std::chrono::seconds(1'796'000'000)};
  const auto relative = [&](platform::Date shown) { return shown == date ? "then" : "wrong date"; };
  const std::string error = "Kettle Ledger did not respond";
  const std::string notice = "Kettle Ledger runs on macOS";
  const struct {
    bool syncing;
    std::optional<std::string> error, notice;
    std::optional<platform::Date> lastSync;
    StatusLine expected;
  } cases[] = {
      {true, error, notice, date, {"Syncing\u2026", false}},
      {false, error, notice, date, {"\u26A0 " + error, true}},
      {false, std::nullopt, notice, date, {notice, true}},
      {false, std::nullopt, std::nullopt, date, {"Last sync: then", true}},
      {false, std::nullopt, std::nullopt, std::nullopt, {"Never synced", true}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(statusLineFor(c.syncing, c.error, c.notice, c.lastSync, relative), c.expected);
  }
}

}  // namespace
}  // namespace quillory::presentation
