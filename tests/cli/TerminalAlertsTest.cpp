#include <gtest/gtest.h>

#include <sstream>

#include "cli/TerminalAlerts.h"
#include "cli/TerminalText.h"
#include "support/ManualDispatcher.h"

namespace quillory::cli {
namespace {

platform::Alert question() {
  return {"Sync \"Home\" with Quillory?",
          "Quillory Helper will sync this library.",
          platform::AlertStyle::informational,
          {"Sync", "Don't Sync"}};
}

struct Answered {
  int button;
  std::string shown;
};

Answered answer(const platform::Alert& alert, const std::string& typed, bool interactive,
                std::vector<std::string> presets = {}) {
  testing::ManualDispatcher dispatcher;
  std::istringstream in(typed);
  std::ostringstream out;
  TerminalAlerts alerts(dispatcher, in, out, interactive, std::move(presets));
  const int button = alerts.run(alert);
  return {button, out.str()};
}

TEST(TerminalAlerts, QuestionOnATerminal) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"1\n", 0},
      {"2\n", 1},
      {"\n", 0},  // Enter: the default button
      {"  don't sync \n", 1},
      {"3\nx\n2\n", 1},  // asked again until it makes sense
      {"", -1},
      {"7\n", -1},  // end of input: no answer
  };
  for (const auto& [typed, expected] : cases) {
    const Answered result = answer(question(), typed, true);
    EXPECT_EQ(result.button, expected) << typed;
    EXPECT_NE(result.shown.find("[1] Sync  [2] Don't Sync"), std::string::npos) << result.shown;
  }
}

TEST(TerminalAlerts, NobodyToAskEndsWithoutAButtonUnlessAPresetNamesOne) {
  const Answered result = answer(question(), "1\n", false);
  EXPECT_EQ(result.button, -1);
  EXPECT_NE(result.shown.find("Sync \"Home\" with Quillory?"), std::string::npos);
  EXPECT_NE(result.shown.find("no answer"), std::string::npos);
  EXPECT_EQ(answer(question(), "", false, {"Don't Sync"}).button, 1);
  EXPECT_EQ(answer(question(), "1\n", true, {"Don't Sync"}).button, 1);
  // "--yes" means nothing to the first-sync question.
  EXPECT_EQ(answer(question(), "", false, {"Remove"}).button, -1);
}

TEST(TerminalAlerts, SingleButtonAlertIsPrintedEscapedAndAcknowledged) {
  const platform::Alert conflict{"Library name conflict: \"Home\x1b[2J\"",
                                 "Two libraries:\n\n\u2022 /a\r\n\u2022 /b\n\nRename one.",
                                 platform::AlertStyle::warning,
                                 {"OK"}};
  const Answered result = answer(conflict, "", true);
  EXPECT_EQ(result.button, 0);
  EXPECT_NE(result.shown.find("Library name conflict: \"Home\\x1b[2J\"\n\n"
                              "Two libraries:\n\n\u2022 /a\\x0d\n\u2022 /b\n\nRename one.\n"),
            std::string::npos)
      << result.shown;
}

TEST(TerminalText, ControlsAndBytesThatAreNotUtf8AreEscaped) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Caf\u00e9 \u2603 \U0001F600", "Caf\u00e9 \u2603 \U0001F600"},  // printable text stays
      {"a\x1b[31mb", "a\\x1b[31mb"},
      {std::string("\0\t\n\x1f\x7f", 5), "\\x00\\x09\\x0a\\x1f\\x7f"},
      {"\u0080\u009b\u00a0", "\\u0080\\u009b\u00a0"},           // C1 controls; no-break space stays
      {"\x9b\xc3(\xe2\x82\xff", "\\x9b\\xc3(\\xe2\\x82\\xff"},  // stray, cut short, never valid
      {"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80",
       "\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80"},  // overlong, surrogate, > U+10FFFF
      {"C:\\x1b", "C:\\\\x1b"},  // a backslash is escaped too: no text reads like an escape
  };
  for (const auto& [name, printed] : cases) EXPECT_EQ(terminalText(name), printed) << printed;
  EXPECT_EQ(terminalText("a\nb\rc", true), "a\nb\\x0dc");
}

}  // namespace
}  // namespace quillory::cli
