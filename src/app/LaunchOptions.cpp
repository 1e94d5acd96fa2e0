#include "app/LaunchOptions.h"

namespace quillory::app {

std::variant<LaunchAction, LaunchRefusal> parseLaunchOptions(const std::vector<std::string>& arguments) {
  // "--help" wins over everything else, also over arguments that would be refused.
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") return LaunchAction::help;
  }
  bool version = false;
  for (const std::string& argument : arguments) {
    if (argument == "--version") {
      version = true;
    } else if (argument.starts_with("-") && argument != "-") {
      return LaunchRefusal{"unknown option " + argument};
    } else {
      return LaunchRefusal{"unexpected argument " + argument};
    }
  }
  return version ? LaunchAction::version : LaunchAction::run;
}

std::string launchUsageText() {
  return R"(Usage: quillory-helper [--help | --version]

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
  --help, -h   this text (wins over everything else)
  --version    the version and build number

Exit status:
  0    the helper ended (Quit), or a running helper was asked to show itself
  1    it cannot run: another helper that does not answer, the lock or the
       settings folder cannot be had
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
}

}  // namespace quillory::app
