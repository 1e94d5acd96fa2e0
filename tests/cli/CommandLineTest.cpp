#include <gtest/gtest.h>

#include "cli/CommandLine.h"

namespace quillory::cli {
namespace {

Options parsed(const std::vector<std::string>& arguments) {
  const auto result = parseCommandLine(arguments);
  if (const auto* error = std::get_if<UsageError>(&result)) {
    ADD_FAILURE() << "usage error: " << error->message;
    return {};
  }
  return std::get<Options>(result);
}

std::string usageError(const std::vector<std::string>& arguments) {
  const auto result = parseCommandLine(arguments);
  if (const auto* error = std::get_if<UsageError>(&result)) return error->message;
  ADD_FAILURE() << "accepted";
  return {};
}

TEST(CommandLine, DefaultsMatchTheMenuBarHelperAndOptionsGoAnywhereInBothSpellings) {
  const Options defaults = parsed({"sync"});
  EXPECT_EQ(defaults.osascript, "/usr/bin/osascript");
  EXPECT_FALSE(defaults.assumeHostRunning || defaults.answer.has_value() || defaults.yes);
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--osascript", "/x/sim", "--answer", "dont-sync", "--assume-host-running", "sync"},
           {"sync", "--osascript=/x/sim", "--answer=dont-sync", "--assume-host-running"},
       }) {
    const Options options = parsed(arguments);
    EXPECT_EQ(options.command, Command::sync);
    EXPECT_EQ(options.osascript, "/x/sim");
    EXPECT_EQ(options.answer, FirstSyncAnswer::dontSync);
    EXPECT_TRUE(options.assumeHostRunning);
  }
}

TEST(CommandLine, LibraryNamesAreTakenAsTheyAre) {
  // Spaces, quotes, a leading dash after "--", non-ASCII letters.
  EXPECT_EQ(parsed({"disable", "-y", "Büro \"2026\" EUR"}).libraryName, "Büro \"2026\" EUR");
  EXPECT_TRUE(parsed({"disable", "-y", "Büro"}).yes);
  EXPECT_EQ(parsed({"enable", "--", "--odd"}).libraryName, "--odd");
  EXPECT_EQ(parsed({"enable", "-"}).libraryName, "-");
  EXPECT_EQ(parsed({"enable", ""}).libraryName, "");
}

TEST(CommandLine, HelpWinsOverEverythingElseThenVersion) {
  const std::vector<std::pair<std::vector<std::string>, Command>> cases = {
      {{"help"}, Command::help},
      {{"sync", "-h"}, Command::help},
      {{"frobnicate", "--help"}, Command::help},
      {{"sync", "--verbose", "--help"}, Command::help},  // after a mistake
      {{"sync", "--answer", "--help"}, Command::help},   // not taken as a value
      {{"--version", "sync", "--help=x"}, Command::help},
      {{"--version"}, Command::version},
      {{"sync", "--answer", "maybe", "--version"}, Command::version},
      {{"enable", "--", "--help"}, Command::enable},  // a library's name
  };
  for (const auto& [arguments, command] : cases) EXPECT_EQ(parsed(arguments).command, command);
}

TEST(CommandLine, BadUsageSaysWhatIsWrong) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no command"},
      {{"frobnicate"}, "unknown command frobnicate"},
      {{"sync", "now"}, "unexpected argument now"},
      {{"enable"}, "needs the name of a library"},
      {{"disable", "Home", "EUR"}, "quote a library name"},
      {{"--answer", "yes", "sync"}, "sync or dont-sync"},
      {{"sync", "--answer"}, "sync or dont-sync"},
      {{"sync", "--osascript="}, "--osascript needs"},
      {{"sync", "--yes=1"}, "takes no value"},
      {{"sync", "--verbose"}, "unknown option --verbose"},
  };
  for (const auto& [arguments, expected] : cases) {
    EXPECT_NE(usageError(arguments).find(expected), std::string::npos) << usageError(arguments);
  }
}

TEST(CommandLine, UsageNamesEveryCommandAndExitStatus) {
  const std::string usage = usageText();
  for (const char* word : {"sync", "status", "libraries", "enable NAME", "disable NAME", "prune",
                           "--osascript", "--assume-host-running", "--answer", "--yes", "--version", "\n  64",
                           "\n  75", "only reads", "on macOS", "on Linux"}) {
    EXPECT_NE(usage.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace quillory::cli
