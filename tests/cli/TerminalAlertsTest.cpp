#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "cli/TerminalAlerts.h"
#include "cli/TerminalText.h"
#include "support/ManualDispatcher.h"

namespace quillory::cli {
namespace {

const platform::Alert kQuestion{"Sync \"Home\" with Quillory?",
                                "Quillory Helper will sync this library.",
                                platform::AlertStyle::informational,
                                {"Sync", "Don't Sync"}};

// The button that ended the alert and what the terminal showed.
std::pair<int, std::string> answer(const platform::Alert& alert, const std::string& typed, bool interactive,
                                   std::vector<std::string> presets = {}) {
  testing::ManualDispatcher dispatcher;
  std::istringstream in(typed);
  std::ostringstream out;
  TerminalAlerts alerts(dispatcher, in, out, interactive, std::move(presets));
  return {alerts.run(alert), out.str()};  // in this order
}

TEST(TerminalAlerts, AnswersFromTheTerminalOrThePresets) {
  // Typed answers by number and by name are tried end to end.
  const std::vector<std::tuple<std::string, bool, std::vector<std::string>, int>> cases = {
      {"7\n", true, {}, -1},             // out of range, then end of input: no answer
      {"1\n", false, {}, -1},            // nobody to ask
      {"", false, {"Don't Sync"}, 1},    // the answer given on the command line
      {"1\n", true, {"Don't Sync"}, 1},  // wins over the terminal
      {"", false, {"Remove"}, -1},       // "--yes" means nothing to the first-sync question
  };
  for (const auto& [typed, interactive, presets, expected] : cases) {
    EXPECT_EQ(answer(kQuestion, typed, interactive, presets).first, expected) << typed << interactive;
  }
  const std::string shown = answer(kQuestion, "2\n", true).second;
  EXPECT_NE(shown.find("Quillory Helper will sync this library.\n\n[1] Sync  [2] Don't Sync"),
            std::string::npos)
      << shown;
  // A single-button alert is printed escaped and acknowledged.
  const auto [acknowledged, printed] = answer(
      {"Conflict: \"Home\x1b[2J\"", "Two libraries:\r\n\u2022 /a", platform::AlertStyle::warning, {"OK"}}, "",
      true);
  EXPECT_EQ(acknowledged, 0);
  EXPECT_NE(printed.find("Conflict: \"Home\\x1b[2J\"\n\nTwo libraries:\\x0d\n\u2022 /a\n"), std::string::npos)
      << printed;
}

TEST(TerminalText, ControlsAndBytesThatAreNotUtf8AreEscaped) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Caf\u00e9 \u2603 \U0001F600", "Caf\u00e9 \u2603 \U0001F600"},  // printable text stays
      {std::string("\0\t\n\x1b\x7f", 5), "\\x00\\x09\\x0a\\x1b\\x7f"},
      {"\u0080\u009b\u00a0", "\\u0080\\u009b\u00a0"},           // C1 controls; no-break space stays
      {"\x9b\xc3(\xe2\x82\xff", "\\x9b\\xc3(\\xe2\\x82\\xff"},  // stray, cut short, never valid
      {"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80",
       "\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80"},  // overlong, surrogate, > U+10FFFF
      {"C:\\x1b", "C:\\\\x1b"},  // a backslash is escaped too: no text reads like an escape
  };
  // Alert texts keep their line ends (tried with the one-button alert above).
  for (const auto& [name, printed] : cases) EXPECT_EQ(terminalText(name), printed) << printed;
}

}  // namespace
}  // namespace quillory::cli
