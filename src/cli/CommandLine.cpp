#include "cli/CommandLine.h"

#include <string_view>
#include <utility>

namespace quillory::cli {

namespace {

struct CommandName {
  std::string_view name;
  Command command;
  bool takesLibraryName;
};

constexpr CommandName kCommands[] = {
    {"sync", Command::sync, false},           {"status", Command::status, false},
    {"libraries", Command::libraries, false}, {"enable", Command::enable, true},
    {"disable", Command::disable, true},      {"prune", Command::prune, false},
    {"help", Command::help, false},
};

const CommandName* findCommand(std::string_view name) {
  for (const CommandName& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

}  // namespace

std::variant<Options, UsageError> parseCommandLine(const std::vector<std::string>& arguments) {
  Options options;
  std::vector<std::string> positional;
  bool optionsEnded = false;

  // "--help" and then "--version" win over anything else on the line, also
  // over an option that would take them as its value or a mistake elsewhere.
  bool wantsVersion = false;
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument == "--help" || argument == "-h" || argument.rfind("--help=", 0) == 0) {
      options.command = Command::help;
      return options;
    }
    wantsVersion = wantsVersion || argument == "--version";
  }
  if (wantsVersion) {
    options.command = Command::version;
    return options;
  }

  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument.rfind("-", 0) != 0) {
      positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }

    std::string name = argument;
    std::optional<std::string> inlineValue;
    if (const auto equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      inlineValue = argument.substr(equals + 1);
    }
    auto takeValue = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 < arguments.size()) return arguments[++i];
      return std::nullopt;
    };
    auto flag = [&](bool& target) -> std::optional<UsageError> {
      if (inlineValue) return UsageError{name + " takes no value"};
      target = true;
      return std::nullopt;
    };

    if (name == "--yes" || name == "-y") {
      if (auto error = flag(options.yes)) return *error;
    } else if (name == "--assume-host-running") {
      if (auto error = flag(options.assumeHostRunning)) return *error;
    } else if (name == "--osascript") {
      const auto value = takeValue();
      if (!value || value->empty()) return UsageError{"--osascript needs the path of a program"};
      options.osascript = *value;
    } else if (name == "--answer") {
      const auto value = takeValue();
      if (value == "sync") {
        options.answer = FirstSyncAnswer::sync;
      } else if (value == "dont-sync") {
        options.answer = FirstSyncAnswer::dontSync;
      } else {
        return UsageError{"--answer takes sync or dont-sync"};
      }
    } else {
      return UsageError{"unknown option " + name};
    }
  }

  if (positional.empty()) return UsageError{"no command given"};

  const CommandName* command = findCommand(positional.front());
  if (command == nullptr) return UsageError{"unknown command " + positional.front()};
  options.command = command->command;

  const std::size_t expected = command->takesLibraryName ? 2 : 1;
  if (positional.size() < expected) {
    return UsageError{std::string(command->name) + " needs the name of a library"};
  }
  if (positional.size() > expected) {
    return UsageError{"unexpected argument " + positional[expected] +
                      (command->takesLibraryName ? " (quote a library name that contains spaces)" : "")};
  }
  if (command->takesLibraryName) options.libraryName = positional[1];
  return options;
}

std::string usageText(const std::string& simulator) {
  return R"(Usage: quillory-helper-cli COMMAND [OPTIONS]

Publishes the library open in Kettle Ledger to the Quillory mobile app, like
the Quillory Helper menu-bar app, without a menu bar. It uses the same
settings store (see Files) and the same folders under $HOME, and prints the
helper's log lines on standard output. Questions and alerts go to standard
error.

Commands:
  sync           check the open library twice (so its name settles), then
                 sync it now (reason "manual") and wait until the run ends.
                 The first time a library is met, asks whether to sync it:
                 on the terminal, or from --answer; with neither (standard
                 input is not a terminal) the answer is "Don't Sync".
  status         asks Kettle Ledger for the open library, then prints the
                 library line and the status line as the menu shows them;
                 only reads: it never prunes, syncs or writes a setting
  libraries      every library met so far, one a line, "[on]  " or "[off] ";
                 nothing when there is none (a note on standard error)
  enable NAME    switch a library's sync on (published at its next sync)
  disable NAME   switch a library's sync off and delete its published files
                 from the devices, whatever was stored; asks first on a
                 terminal, else needs --yes, unless it is off already
                 (answering "Cancel" changes nothing and exits 2)
  prune          one pass of forgetting switched-off libraries whose folder
                 is gone, deleting their published files, and of deleting
                 every switched-off library's files left in iCloud
  help           this text

Options:
  --osascript PATH        the script launcher to run (default
                          /usr/bin/osascript); on Linux, which has none,
                          the simulated Kettle Ledger installed with the
                          helper, )" +
         simulator + R"(
                          (see "man quillory-helper")
  --assume-host-running   take Kettle Ledger as running without asking the
                          desktop (needed on Linux, where no workspace can
                          be asked; on macOS, for the simulated one)
  --answer sync|dont-sync
                          the answer to the first-sync question; given, it
                          is used also on a terminal
  --yes, -y               confirm "disable" without asking
  --help, -h              this text (wins over everything else)
  --version               the version and build number

Exit status:
  0   success
  1   the export failed ("⚠ " and the reason on standard error),
      "disable" could not delete every published file, or the settings
      could not be saved (an answer not stored: nothing deleted or
      published)
  2   skipped: the library is switched off, the answer was "Don't Sync",
      the first-sync question had no answer (no terminal and no --answer,
      or end of input; nothing is stored), the library open in Kettle
      Ledger changed during the export, or "disable" was cancelled
  64  bad usage (unknown command or option, unknown library, disable
      without --yes where nobody can be asked)
  73  cannot run here: the home folder does not exist, the lock file
      ($HOME/.quillory-helper.lock) or the settings folder cannot be taken
      or created (a link, a folder or a file in the way), or "sync" cannot
      start the script launcher (missing, a folder, not executable)
  74  standard output could not be written or flushed (a full disk, a
      closed pipe; one line on standard error says so), whatever the
      command did
  75  another Quillory Helper or quillory-helper-cli is running for the
      same home folder; try again when it has finished
  129, 130, 143  ended by SIGHUP, SIGINT or SIGTERM (128 + the signal): the
      script stopped, a pair being put in place finished first, no
      temporary file left; a signal ignored when the command started (as
      under nohup) stays ignored

Files:
  settings   on macOS: the user defaults of test.quillory.helper, those of
             the menu-bar app ("defaults read test.quillory.helper");
             on Linux: $XDG_CONFIG_HOME/quillory-helper/settings.json, a JSON
             object ($HOME/.config/... when XDG_CONFIG_HOME is unset or
             relative); changed one key at a time under settings.json.lock
             ("status" and "libraries" only read it)
  lock       $HOME/.quillory-helper.lock, shared with the menu-bar helper
  published  $HOME/Library/Mobile Documents/iCloud~test~quillory~mobile/Documents
             and the Documents folder of every app container of
             test.quillory.mobile under $HOME/Library/Containers

Names on the terminal:
  Every line printed (library names, log lines, status lines, alerts) has
  its control characters escaped: C0 controls and DEL as \xHH (ESC is
  \x1b), C1 controls as \u00HH (\u009b), bytes that are not UTF-8 as \xHH,
  and a backslash as \\; characters that show nothing or change the
  writing direction (U+200B-U+200F, U+202A-U+202E, U+2060-U+2064,
  U+2066-U+2069, U+FEFF) as \uHHHH (\u202e). enable and disable take the
  name itself, unescaped.
)";
}

}  // namespace quillory::cli
