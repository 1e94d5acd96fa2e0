#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "cli/CommandLine.h"
#include "cli/TerminalAlerts.h"
#include "cli/TerminalText.h"
#include "support/ManualDispatcher.h"

namespace quillory::cli {
namespace {

// The options of a command line that must parse (bad_variant_access otherwise).
Options parsed(const std::vector<std::string>& arguments) {
  return std::get<Options>(parseCommandLine(arguments));
}

TEST(CommandLine, OptionsGoAnywhereNamesStayWhole) {
  for (const Options& options :
       {parsed({"--osascript", "/x/sim", "--answer", "dont-sync", "--assume-host-running", "sync"}),
        parsed({"sync", "--osascript=/x/sim", "--answer=dont-sync", "--assume-host-running"})}) {
    EXPECT_TRUE(options.command == Command::sync && options.osascript == "/x/sim" &&
                options.answer == FirstSyncAnswer::dontSync && options.assumeHostRunning);
  }
  // Library names are taken as they are: spaces, quotes, non-ASCII letters, a leading dash after "--".
  const Options options = parsed({"disable", "-y", "Büro \"2026\" EUR"});
  EXPECT_TRUE(options.yes && options.libraryName == "Büro \"2026\" EUR");
  EXPECT_EQ(parsed({"enable", "--", "--odd"}).libraryName, "--odd");
}

// "--help" where an option wants its value and "--version" alone are tried
// end to end.
TEST(CommandLine, HelpWinsOverEverythingElseThenVersion) {
  const std::vector<std::pair<std::vector<std::string>, Command>> cases = {
      {{"sync", "-h"}, Command::help},
      {{"frobnicate", "--help"}, Command::help},  // after a mistake
      {{"--version", "sync", "--help=x"}, Command::help},
      {{"sync", "--answer", "maybe", "--version"}, Command::version},
      {{"enable", "--", "--help"}, Command::enable},  // a library's name
  };
  for (const auto& [arguments, command] : cases) EXPECT_EQ(parsed(arguments).command, command);
}

TEST(CommandLine, BadUsageSaysWhatIsWrong) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"frobnicate"}, "unknown command frobnicate"},       {{"enable"}, "needs the name of a library"},
      {{"disable", "Home", "EUR"}, "quote a library name"}, {{"sync", "--answer"}, "sync or dont-sync"},
      {{"sync", "--osascript="}, "--osascript needs"},      {{"sync", "--yes=1"}, "takes no value"},
      {{"sync", "--verbose"}, "unknown option --verbose"},
  };
  for (const auto& [arguments, expected] : cases)  // (bad_variant_access where it parses)
    EXPECT_THAT(std::get<UsageError>(parseCommandLine(arguments)).message, ::testing::HasSubstr(expected));
}

// The help text is the source of the manual page and of the shell
// completion (scripts/make-completions.py reads its "Commands:" and
// "Options:" entries): every command and option it lists must parse.
TEST(CommandLine, EveryCommandAndOptionTheHelpListsParses) {
  std::istringstream help(usageText("/sim"));
  std::string section;
  std::size_t listed = 0;
  for (std::string line; std::getline(help, line);) {
    if (!line.empty() && line.front() != ' ') section = line;
    if (!line.starts_with("  ") || line[2] == ' ' || (section != "Commands:" && section != "Options:"))
      continue;
    // "enable NAME", "--answer sync|dont-sync"
    const std::string term = line.substr(2, line.find("  ", 2) - 2);
    for (std::size_t at = 0; at != std::string::npos; at = term.find(", ", at + 1)) {
      std::istringstream words(term.substr(at == 0 ? 0 : at + 2, term.find(", ", at + 1) - at));
      std::vector<std::string> arguments{section == "Options:" ? "status" : ""};
      for (std::string word; words >> word && arguments.size() < 3;)
        arguments.push_back(word == "NAME" ? "Home" : word.substr(0, word.find('|')));
      if (arguments.front().empty()) arguments.erase(arguments.begin());
      ++listed;
      EXPECT_TRUE(std::holds_alternative<Options>(parseCommandLine(arguments))) << term;
    }
  }
  EXPECT_EQ(listed, 7u + 8u);  // the commands; the options and their short names
}

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
  // Answers typed by number and by name, and those given on the command line,
  // are tried end to end.
  // Out of range, then end of input; or "--yes", which means nothing to this question: no answer.
  EXPECT_EQ(answer(kQuestion, "7\n", true).first, platform::kAlertAbandoned);
  EXPECT_EQ(answer(kQuestion, "", false, {"Remove"}).first, platform::kAlertAbandoned);
  EXPECT_THAT(answer(kQuestion, "2\n", true).second,
              ::testing::HasSubstr("Quillory Helper will sync this library.\n\n[1] Sync  [2] Don't Sync"));
  // A single-button alert is printed escaped and acknowledged.
  const auto [acknowledged, printed] = answer(
      {"Conflict: \"Home\x1b[2J\"", "Two libraries:\r\n\u2022 /a", platform::AlertStyle::warning, {"OK"}}, "",
      true);
  EXPECT_EQ(acknowledged, 0);
  EXPECT_THAT(printed,
              ::testing::HasSubstr("Conflict: \"Home\\x1b[2J\"\n\nTwo libraries:\\x0d\n\u2022 /a\n"));
}

TEST(TerminalText, ControlsAndBytesThatAreNotUtf8AreEscaped) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Caf\u00e9 \u2603 \U0001F600", "Caf\u00e9 \u2603 \U0001F600"},  // printable text stays
      {std::string("\0\t\n\x1b\x7f", 5), "\\x00\\x09\\x0a\\x1b\\x7f"},
      {"\x9b\xc3(\xe2\x82\xff", "\\x9b\\xc3(\\xe2\\x82\\xff"},  // stray, cut short, never valid
      {"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80",
       "\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80"},  // overlong, surrogate, > U+10FFFF
      {"C:\\x1b", "C:\\\\x1b"},  // a backslash is escaped too: no text reads like an escape
      // Invisible and direction-changing characters, not their neighbours.
      {"a\u200b\u200f\u202a\u202e\u2060\u2064\u2066\u2069\ufeffz",
       "a\\u200b\\u200f\\u202a\\u202e\\u2060\\u2064\\u2066\\u2069\\ufeffz"},
      {"\u200a\u2010\u2030\u202f\u2065\u206a\ufefe", "\u200a\u2010\u2030\u202f\u2065\u206a\ufefe"},
  };
  // Alert texts keep their line ends (tried with the one-button alert above).
  for (const auto& [name, printed] : cases) EXPECT_EQ(terminalText(name), printed) << printed;
}

}  // namespace
}  // namespace quillory::cli
