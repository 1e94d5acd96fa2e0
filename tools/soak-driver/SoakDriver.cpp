// soak-driver: the helper's sync engine, for a long time, against the
// simulated Kettle Ledger, with the clock sped up.
//
// The engine runs as in the application: the run-loop dispatcher, the real
// script runner (with kettle-ledger-sim as its script launcher), the
// property-list settings file, atomic writes into a temporary home folder.
// Only the clock is faster (--speed, default 10: the 10-second check comes
// every second, the three idle minutes pass in 18 seconds; the script time
// limits run on the monotonic clock and keep their length) and the desktop is
// simulated: a workspace whose activations and terminations the driver makes.
//
// On a timer the driver does what a user does: switches the host's library,
// quits and relaunches the host, activates it, asks for "Sync Now", switches
// libraries off (deleting their files, as the menu does) and on again, and
// now and then removes a library's folder and brings it back. Meanwhile a
// reader thread plays iCloud Drive: it copies every file of the container and
// app container Documents folders into a mirror, again and again, and checks
// each copy: a document must be one complete JSON object, a marker one
// timestamp.
//
// At the start (after a warm-up) and at the end it waits for a quiet moment
// (no sync, no task on a worker) and takes the process's open descriptors,
// threads, resident memory and child processes; every minute it prints a
// sample. At the end it prints the totals and exits with status 1 when a
// reader saw a broken document, a temporary file or an unexpected failure
// remained, something was written outside the helper's folders, or the
// resource figures grew.
//
// Usage: soak-driver --sim PATH [--minutes N] [--speed S] [--out DIR] [--seed N]
//
// Files: Options (the command line), Driver (set-up and the run's phases),
// UserActions (what the user does), MirrorReader (the iCloud-like reader),
// HostLibraries (the simulated host's libraries), SoakLog, Report. The
// clock, the workspace, the alerts, the outside-the-folders check, the
// published-file checks and the process figures are tests/support's.

#include "Driver.h"
#include "Options.h"

int main(int argc, char** argv) {
  quillory::soak::Driver driver(quillory::soak::parseOptions(argc, argv));
  return driver.run();
}
