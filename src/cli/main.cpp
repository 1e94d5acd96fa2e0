// quillory-helper-cli: the headless front end. The composition root: it picks
// the POSIX implementations of the platform, takes the single-instance lock,
// opens the same settings store as the menu-bar helper and runs one command.
// See CommandLine.cpp (usageText) for the commands and exit statuses.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include "bridge/OsascriptRunner.h"
#include "cli/CommandLine.h"
#include "cli/ExitStatus.h"
#include "cli/Frontend.h"
#include "cli/ScriptLauncher.h"
#include "cli/TerminalAlerts.h"
#include "cli/TerminalLog.h"
#include "cli/TerminalText.h"
#include "engine/ExportManager.h"
#include "platform/AutomationPermission.h"
#include "platform/Files.h"
#include "platform/StaticWorkspace.h"
#include "platform/posix/ExitCleanup.h"
#include "platform/posix/JsonDefaults.h"
#include "platform/posix/RunLoopDispatcher.h"
#include "platform/posix/SingleInstanceLock.h"
#include "platform/posix/StdoutLog.h"
#include "platform/posix/SystemClock.h"
#include "platform/posix/SystemLog.h"
#include "platform/posix/WriteAll.h"
#include "presentation/RelativeDateText.h"
#include "presentation/VersionText.h"

#if defined(__APPLE__)
#include "platform/macos/MacApplication.h"
#include "platform/macos/MacAutomationPermission.h"
#include "platform/macos/MacDefaults.h"
#include "platform/macos/MacWorkspace.h"
#endif

namespace {

using namespace quillory;
namespace posix = platform::posix;

constexpr const char* kProgram = posix::kCommandLineProgram;
// How long a started script gets to end after the termination request.
constexpr std::chrono::milliseconds kStopGrace{1000};
#if defined(__APPLE__)
constexpr const char* kSettingsDomain = "test.quillory.helper";
// iCloud Drive carries the documents to the phone: a run says when it seems off.
constexpr bool kWarnWhenICloudDriveOff = true;
#else
constexpr bool kWarnWhenICloudDriveOff = false;
#endif

int runCommand(cli::Frontend& frontend, const cli::Options& options) {
  switch (options.command) {
    case cli::Command::sync:
      return frontend.sync();
    case cli::Command::status:
      return frontend.status();
    case cli::Command::libraries:
      return frontend.libraries();
    case cli::Command::enable:
      return frontend.enable(options.libraryName);
    case cli::Command::disable:
      return frontend.disable(options.libraryName);
    case cli::Command::prune:
      return frontend.prune();
    case cli::Command::help:
    case cli::Command::version:
      break;
  }
  std::cout << cli::usageText(QUILLORY_SIMULATOR_PATH);
  return cli::kExitSuccess;
}

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

// The user's time locale, as the menu-bar helper takes it.
presentation::DateTextSettings dateTextSettings() {
#if defined(__APPLE__)
  const auto user = platform::macos::userTimeLocale();
  return {presentation::withHourCycle(user.identifier, user.uses24Hour), ""};
#else
  return {presentation::posixTimeLocale(environmentValue), ""};
#endif
}

// Standard output for the commands' results, written straight to the
// descriptor as the log lines are, keeping the first failure (a full disk, a
// closed pipe) for the exit status. Unbuffered: nothing waits to be flushed.
class StandardOutput final : public std::streambuf {
 public:
  std::error_code failure() const { return failure_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return put(std::string_view(&byte, 1)) ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* bytes, std::streamsize count) override {
    return put(std::string_view(bytes, static_cast<std::size_t>(count))) ? count : 0;
  }

 private:
  bool put(std::string_view bytes) {
    if (!failure_) failure_ = posix::writeAll(STDOUT_FILENO, bytes);
    return !failure_;
  }

  std::error_code failure_;
};

// Output that could not be written fails the run with its own status,
// whatever the command did: a script reading the output would take part of
// it for the whole. `logFailure` is that of the log lines written to
// standard output. One line on standard error says so.
int withOutputChecked(const StandardOutput& output, int status, std::error_code logFailure = {}) {
  const std::error_code failure = output.failure() ? output.failure() : logFailure;
  if (!failure) return status;
  std::cerr << kProgram << ": cannot write standard output: " << failure.message() << '\n';
  return cli::kExitOutputFailed;
}

std::vector<std::string> presetAnswers(const cli::Options& options) {
  std::vector<std::string> answers;
  if (options.answer == cli::FirstSyncAnswer::sync) answers.emplace_back("Sync");
  if (options.answer == cli::FirstSyncAnswer::dontSync) answers.emplace_back("Don't Sync");
  if (options.yes) answers.emplace_back("Remove");
  return answers;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard output must not kill the process half-way through a
  // write of the settings or the published files.
  ::signal(SIGPIPE, SIG_IGN);
  // Children are reaped by their owners only: an ignored SIGCHLD (inherited
  // from whoever started this process) would let the system reap them.
  ::signal(SIGCHLD, SIG_DFL);
  // SIGTERM, SIGINT and SIGHUP end a run cleanly: the script's process group
  // stopped, temporary files removed, the lock released with the process,
  // exit status 128 + the signal. Blocked before any thread starts, so that
  // only the watcher takes them.
  posix::exitcleanup::blockTerminationSignals();
  posix::exitcleanup::watchTerminationSignals(
      [](int signal) { posix::exitcleanup::cleanUpAndExit(signal, kStopGrace); });
  // Results share standard output with the log, which writes directly.
  // Never destroyed: the stream may still be flushed at exit.
  StandardOutput& output = *new StandardOutput;
  std::cout.rdbuf(&output);

  const auto parsed = cli::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto* error = std::get_if<cli::UsageError>(&parsed)) {
    std::cerr << kProgram << ": " << error->message << "\nTry '" << kProgram << " --help'.\n";
    return cli::kExitUsage;
  }
  const cli::Options& options = std::get<cli::Options>(parsed);
  if (options.command == cli::Command::help) {
    std::cout << cli::usageText(QUILLORY_SIMULATOR_PATH);
    return withOutputChecked(output, cli::kExitSuccess);
  }
  if (options.command == cli::Command::version) {
    std::cout << presentation::versionText(kProgram, QUILLORY_SHORT_VERSION, QUILLORY_BUILD_NUMBER,
                                           QUILLORY_COPYRIGHT);
    return withOutputChecked(output, cli::kExitSuccess);
  }

  // A sync needs the script launcher: when it cannot even be started, say
  // why, before anything is touched.
  if (options.command == cli::Command::sync) {
    if (const auto problem = bridge::launcherProblem(options.osascript)) {
      std::cerr << cli::launcherProblemText(options.osascript, *problem, QUILLORY_SIMULATOR_PATH);
      return cli::kExitCannotRun;
    }
  }

  const std::filesystem::path home = platform::files::homeFolder();
  const std::filesystem::path settingsFile = posix::defaultDefaultsFile(home);
  // The lock lives in the home folder: without one, that is what to say.
  std::error_code homeError;
  if (!std::filesystem::is_directory(home, homeError)) {
    std::cerr << kProgram << ": the home folder " << cli::terminalText(home.string())
              << (std::filesystem::exists(home, homeError) ? " is not a folder" : " does not exist") << '\n';
    return cli::kExitCannotRun;
  }
  // `status` and `libraries` only read: they take no lock, create no folder
  // or file and change no setting, and their notices go to standard error.
  const bool readOnly = options.command == cli::Command::status || options.command == cli::Command::libraries;

  // Before the settings file is opened: opening may already write (a damaged
  // file is moved aside).
  std::optional<posix::SingleInstanceLock> lock;
  if (!readOnly) lock.emplace(posix::defaultLockFile(home), kProgram);
  switch (lock ? lock->outcome() : posix::SingleInstanceLock::Outcome::acquired) {
    case posix::SingleInstanceLock::Outcome::acquired:
      break;
    case posix::SingleInstanceLock::Outcome::heldElsewhere: {
      std::string holder = lock->holderProgram();
      if (const auto pid = lock->holderPid()) {
        holder += (holder.empty() ? "" : ", ") + ("process " + std::to_string(*pid));
      }
      std::cerr << kProgram << ": another Quillory Helper"
                << (holder.empty() ? "" : " (" + cli::terminalText(holder) + ")");
      std::cerr << " is running for this home folder (" << cli::terminalText(lock->file().string())
                << "); try again when it has finished\n";
      return cli::kExitLocked;
    }
    case posix::SingleInstanceLock::Outcome::unavailable:
      std::cerr << kProgram
                << ": cannot run without the single-instance lock: " << cli::terminalText(lock->error())
                << '\n';
      return cli::kExitCannotRun;
  }
#if !defined(__APPLE__)
  if (const std::error_code error =
          readOnly ? std::error_code() : platform::files::createFolders(settingsFile.parent_path())) {
    std::cerr << kProgram << ": cannot run without a settings folder: "
              << cli::terminalText(settingsFile.parent_path().string()) << ": " << error.message() << '\n';
    return cli::kExitCannotRun;
  }
#endif

  // Every line the engine logs reaches the terminal escaped.
  // Under a systemd service the lines carry their journal priority.
  const int logFd = readOnly ? STDERR_FILENO : STDOUT_FILENO;
  posix::StdoutLog stdoutLog(logFd, nullptr, posix::descriptorIsJournalStream(environmentValue, logFd));
  cli::TerminalLog log(stdoutLog);
  posix::SystemClock clock;
  // Kettle Ledger taken as running, or the running applications as the
  // desktop tells them (none on Linux).
  std::unique_ptr<platform::Workspace> workspace;
  if (options.assumeHostRunning) {
    workspace = std::make_unique<platform::StaticWorkspace>(
        std::vector<std::optional<std::string> >{engine::ExportManager::klBundleID});
  }
#if defined(__APPLE__)
  // The menu-bar helper's own store; the permission to control Kettle Ledger
  // is asked for on behalf of the program that started this one (Terminal).
  platform::macos::MacDefaults defaults(kSettingsDomain);
  if (!workspace) workspace = std::make_unique<platform::macos::MacWorkspace>();
  platform::macos::MacAutomationPermission automation;
#else
  posix::JsonDefaults defaults(
      settingsFile, log, clock,
      readOnly ? posix::JsonDefaults::Mode::readOnly : posix::JsonDefaults::Mode::readWrite);
  if (!workspace) {
    workspace = std::make_unique<platform::StaticWorkspace>(std::vector<std::optional<std::string> >{});
  }
  platform::NoAutomationPermissionNeeded automation;
#endif
  const bool interactive = ::isatty(STDIN_FILENO) == 1;

  // The dispatcher goes first at the end (see below), so it is held apart.
  auto dispatcher = std::make_unique<posix::RunLoopDispatcher>();
  cli::TerminalAlerts alerts(*dispatcher, std::cin, std::cerr, interactive, presetAnswers(options));
  bridge::OsascriptRunner runner(*dispatcher, log, clock, options.osascript);
  auto manager =
      engine::ExportManager::create(engine::Environment{defaults, *dispatcher, clock, log, *workspace, alerts,
                                                        runner, home, &automation, kWarnWhenICloudDriveOff});

  cli::Frontend frontend(
      *manager, *dispatcher,
      [&loop = *dispatcher](const std::function<bool()>& done, std::chrono::milliseconds limit) {
        return loop.runUntil(done, limit);
      },
      clock, alerts, dateTextSettings(), cli::Frontend::Io{std::cout, std::cerr, interactive || options.yes});
  const int status = runCommand(frontend, options);

  // The commands wait for the engine's work, but a worker may still be on its
  // way out (the end of an export run, the reaping of a script's child). The
  // dispatcher joins its workers before anything they use goes away.
  manager.reset();
  dispatcher.reset();
  posix::exitcleanup::awaitCleanUpAndExit();
  return withOutputChecked(output, status, readOnly ? std::error_code() : stdoutLog.writeFailure());
}
