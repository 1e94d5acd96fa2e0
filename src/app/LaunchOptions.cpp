#include "app/LaunchOptions.h"

#include <cstddef>
#include <string_view>

namespace quillory::app {
namespace {

// The options that name the script launcher and take the host as running:
// Linux only (macOS keeps /usr/bin/osascript and its workspace).
#if defined(__APPLE__)
constexpr bool kLauncherOptions = false;
#else
constexpr bool kLauncherOptions = true;
#endif

constexpr std::string_view kOsascriptOption = "--osascript";

}  // namespace

std::variant<LaunchOptions, LaunchRefusal> parseLaunchOptions(const std::vector<std::string>& arguments) {
  LaunchOptions options;
  // "--help" wins over everything else, also over arguments that would be refused.
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") {
      options.action = LaunchAction::help;
      return options;
    }
  }
  bool version = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--version") {
      version = true;
    } else if (kLauncherOptions && argument == "--assume-host-running") {
      options.assumeHostRunning = true;
    } else if (kLauncherOptions && (argument == kOsascriptOption || argument.starts_with("--osascript="))) {
      std::string path;
      if (argument != kOsascriptOption) {
        path = argument.substr(kOsascriptOption.size() + 1);
      } else if (i + 1 < arguments.size()) {
        path = arguments[++i];
      }
      if (path.empty()) return LaunchRefusal{"--osascript needs the path of a program"};
      options.osascript = path;
    } else if (argument.starts_with("-") && argument != "-") {
      return LaunchRefusal{"unknown option " + argument};
    } else {
      return LaunchRefusal{"unexpected argument " + argument};
    }
  }
  if (version) options.action = LaunchAction::version;
  return options;
}

std::string launchUsageText(const std::string& simulator) {
  std::string text =
      kLauncherOptions
          ? "Usage: quillory-helper [--osascript PATH] [--assume-host-running] [--help | --version]\n"
          : "Usage: quillory-helper [--help | --version]\n";
  text += R"(
Quillory Helper sits in the panel's tray (the menu bar on macOS) beside the
receipt-library application Kettle Ledger and publishes the library open
there to the Quillory mobile app on iPhone and iPad, through iCloud Drive:
by itself once Kettle Ledger has been left alone for three minutes, or when
"Sync Now" is chosen in its menu. It asks once per library before publishing
it, and removes a library from the devices when it is switched off in the
Libraries submenu. Everything else is in its menu; the same work can be done
without a desktop with quillory-helper-cli.

Only one helper runs per user. Started again while it runs, it asks the
running one to show itself (its menu, or a notification "Quillory Helper is
already running") and exits. Without a tray on the desktop it says so in a
notification and in its log, keeps working, and shows its icon as soon as a
tray appears.

Options:
)";
  if (kLauncherOptions) {
    text += R"(  --osascript PATH        the script launcher to run in place of
                          /usr/bin/osascript, such as the simulated Kettle
                          Ledger (below)
  --assume-host-running   take Kettle Ledger as running without asking the
                          desktop (which counts it as running while a
                          program owns the session bus name
                          test.kettleledger.desktop2)
)";
  }
  text += R"(  --help, -h   this text (wins over everything else)
  --version    the version and build number, the copyright and the licence
)";
  if (kLauncherOptions) {
    text += R"(
Kettle Ledger on Linux:
  Kettle Ledger runs only on macOS, where the helper reaches it through
  /usr/bin/osascript. Linux has no osascript: there the status line in the
  menu says "Kettle Ledger runs on macOS — see `man quillory-helper` to try
  the simulated one", and nothing is synced. The simulated Kettle Ledger
  comes with the helper, as )" +
            simulator + R"(. It answers the
  helper's scripts from the files in the folder that KETTLE_LEDGER_SIM_DIR
  names: name.txt holds the name of the open library, export.json its
  export. To try it with a library of one receipt:
  $ mkdir -p ~/kettle-ledger && echo 'Home EUR' > ~/kettle-ledger/name.txt
  $ echo '{"items":[{"id":"1","title":"Tea","amounts":{"gross":4.5,"currency":"EUR"}}]}' > ~/kettle-ledger/export.json
  $ KETTLE_LEDGER_SIM_DIR=~/kettle-ledger quillory-helper --osascript )" +
            simulator + R"( --assume-host-running
  Then choose "Sync Now" and answer "Sync": the helper publishes "Home EUR"
  into $HOME/Library/Mobile Documents (below). quillory-helper-cli takes the
  same two options.
)";
  }
  text += R"(
Exit status:
  0    the helper ended (Quit), or a running helper was asked to show itself
  1    it cannot run: another helper that does not answer, the lock or the
       settings folder cannot be had, the --osascript program cannot be
       started
  64   bad usage (any argument other than the options above)
  129, 130, 143  ended by SIGHUP, SIGINT or SIGTERM (128 + the signal)

Files:
  settings   $XDG_CONFIG_HOME/quillory-helper/ ($HOME/.config/... when
             XDG_CONFIG_HOME is unset or relative); on macOS the user
             defaults of test.quillory.helper
  lock       $HOME/.quillory-helper.lock, shared with quillory-helper-cli
  log        $XDG_STATE_HOME/quillory-helper/quillory-helper.log
             ($HOME/.local/state/...), which "Show Log..." opens, and the
             user's journal ("journalctl --user -t quillory-helper"); on macOS
             ~/Library/Logs/Quillory Helper/helper.log and the unified log,
             subsystem test.quillory.helper
  autostart  $XDG_CONFIG_HOME/autostart/quillory-helper.desktop, written by
             "Launch at Login"
  published  $HOME/Library/Mobile Documents/iCloud~test~quillory~mobile/Documents
             and the Documents folder of every app container of
             test.quillory.mobile under $HOME/Library/Containers
)";
  return text;
}

}  // namespace quillory::app
