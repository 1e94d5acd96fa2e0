// One menu-bar helper per home folder: a second one leaves at once, says why
// and touches nothing; one started while a command-line run holds the lock
// waits for it; one that can have no settings folder refuses to run; a
// running one quits cleanly on SIGTERM.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "QtPump.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/posix/SingleInstanceLock.h"
#include "support/TempHome.h"

namespace quillory::platform::qt::test {
namespace {

using Lock = posix::SingleInstanceLock;

// Started with posix_spawn (not QProcess, whose child runs in this process's
// memory and so confuses ThreadSanitizer); standard error joins the output.
std::unique_ptr<platform::ChildProcess> startHelper(const testing::TempHome& home,
                                                    const std::string& xdgConfigHome) {
  std::vector<std::string> arguments = {"-u", "XDG_CONFIG_HOME"};
  if (!xdgConfigHome.empty()) arguments = {"XDG_CONFIG_HOME=" + xdgConfigHome};
  arguments.push_back("HOME=" + home.path().string());
  // TSAN_OPTIONS: the helper links the system's Qt, which is not built for
  // ThreadSanitizer, and its D-Bus thread gives reports about Qt's own
  // memory; the helper's logic runs under the sanitizer in the app and
  // engine tests.
  for (const char* argument : {"QT_QPA_PLATFORM=offscreen", "TSAN_OPTIONS=report_bugs=0", "/bin/sh", "-c",
                               "exec \"$0\" 2>&1", QUILLORY_HELPER_PATH}) {
    arguments.emplace_back(argument);
  }
  return platform::ChildProcess::spawn("/usr/bin/env", arguments);
}

struct RefusalCase {
  const char* holder;     // the program holding the lock, or none
  const char* xdgConfig;  // XDG_CONFIG_HOME below the home: a folder of its own, or a file
  const char* message;
};

class SingleInstance : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SingleInstance, HelperLeavesAtOnceWithoutTouchingAnything) {
  testing::TempHome home;
  std::optional<Lock> running;
  if (GetParam().holder) running.emplace(posix::defaultLockFile(home.path()), GetParam().holder);
  const std::string xdgConfig = GetParam().xdgConfig;
  const auto config = xdgConfig == "file" ? home.writeFile(xdgConfig, "keep") : home.makeFolder(xdgConfig);
  const auto folder = config / "quillory-helper";
  const auto before = files::listFolder(folder);

  auto second = startHelper(home, config.string());
  ASSERT_TRUE(second);
  std::string output;
  second->readOutput(output);
  ASSERT_TRUE(second->waitForExit(std::chrono::seconds(10)));
  EXPECT_EQ(second->reap().code, 1);
  EXPECT_EQ(output.find(GetParam().message), 0u) << output;
  EXPECT_EQ(files::listFolder(folder), before);  // no settings file, nothing else
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SingleInstance,
    // The same home with settings of its own is the same helper.
    ::testing::Values(RefusalCase{posix::kMenuBarHelperProgram, "other-config",
                                  "quillory-helper: Quillory Helper is already running ("},
                      RefusalCase{nullptr, "file",
                                  "quillory-helper: cannot run without a settings folder: "}));

// A command-line run holds the lock for one command: the menu-bar helper
// waits, then runs, and quits cleanly on SIGTERM.
TEST(SingleInstanceWait, HelperWaitsForACommandLineRunThenRunsUntilSigterm) {
  testing::TempHome home;
  std::optional<Lock> commandLine(std::in_place, posix::defaultLockFile(home.path()),
                                  posix::kCommandLineProgram);
  auto helper = startHelper(home, "");
  ASSERT_TRUE(helper);
  std::string output;
  const auto append = [&output](std::string_view piece) { output.append(piece); };
  ASSERT_TRUE(pumpUntil(
      [&] {
        helper->read(std::chrono::milliseconds(50), append);
        return output.find("waiting for quillory-helper-cli (process ") != std::string::npos;
      },
      10000))
      << output;
  commandLine.reset();

  // The helper's record in the lock file says it holds the lock now.
  const std::string record = std::to_string(helper->pid()) + " " + posix::kMenuBarHelperProgram + " ";
  ASSERT_TRUE(pumpUntil(
      [&] { return files::readFile(posix::defaultLockFile(home.path())).value_or("").starts_with(record); },
      10000))
      << output;
  helper->terminate();
  ASSERT_TRUE(helper->waitForExit(std::chrono::seconds(10)));
  EXPECT_EQ(helper->reap().code, 128 + SIGTERM);
  EXPECT_TRUE(Lock(posix::defaultLockFile(home.path()), "test").acquired()) << "released";
}

}  // namespace
}  // namespace quillory::platform::qt::test
