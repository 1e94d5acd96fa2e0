#include <gtest/gtest.h>

#include "cli/CommandLine.h"

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
  for (const auto& [arguments, expected] : cases) {
    const auto result = parseCommandLine(arguments);
    ASSERT_TRUE(std::holds_alternative<UsageError>(result)) << expected;
    EXPECT_NE(std::get<UsageError>(result).message.find(expected), std::string::npos) << expected;
  }
}

}  // namespace
}  // namespace quillory::cli
