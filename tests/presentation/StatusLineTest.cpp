#include <gtest/gtest.h>

#include "presentation/StatusLine.h"

namespace quillory::presentation {
namespace {

// A running sync wins over an error left from the run before, and an error
// over the last sync's date.
TEST(StatusLine, ShowsTheStateThatComesFirst) {
  const platform::Date date{std::chrono::seconds(1'796'000'000)};
  const auto relative = [&](platform::Date shown) { return shown == date ? "then" : "wrong date"; };
  const std::string error = "Kettle Ledger did not respond";
  const struct {
    bool syncing;
    std::optional<std::string> error;
    std::optional<platform::Date> lastSync;
    StatusLine expected;
  } cases[] = {
      {true, error, date, {"Syncing\u2026", false}},
      {false, error, date, {"\u26A0 " + error, true}},
      {false, std::nullopt, date, {"Last sync: then", true}},
      {false, std::nullopt, std::nullopt, {"Never synced", true}},
  };
  for (const auto& c : cases) EXPECT_EQ(statusLineFor(c.syncing, c.error, c.lastSync, relative), c.expected);
}

}  // namespace
}  // namespace quillory::presentation
