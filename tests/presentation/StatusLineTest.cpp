#include <gtest/gtest.h>

#include "presentation/StatusLine.h"

namespace quillory::presentation {
namespace {

struct StatusCase {
  bool syncing;
  std::optional<std::string> error;
  std::optional<platform::Date> lastSync;
  StatusLine expected;
};

// A running sync wins over an error left from the run before, and an error
// over the last sync's date.
TEST(StatusLine, ShowsTheStateThatComesFirst) {
  const platform::Date date{std::chrono::seconds(1'796'000'000)};
  const auto relative = [&](platform::Date shown) { return shown == date ? "then" : "wrong date"; };
  for (const StatusCase& c : {
           StatusCase{true, "Kettle Ledger did not respond", date, {"Syncing\u2026", false}},
           StatusCase{
               false, "Kettle Ledger did not respond", date, {"\u26A0 Kettle Ledger did not respond", true}},
           StatusCase{false, std::nullopt, date, {"Last sync: then", true}},
           StatusCase{false, std::nullopt, std::nullopt, {"Never synced", true}},
       }) {
    EXPECT_EQ(statusLineFor(c.syncing, c.error, c.lastSync, relative), c.expected) << c.expected.title;
  }
}

}  // namespace
}  // namespace quillory::presentation
