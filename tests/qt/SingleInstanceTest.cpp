// A second quillory-helper leaves at once, says why, and touches nothing.

#include <gtest/gtest.h>

#include <chrono>

#include "platform/Files.h"
#include "platform/posix/ChildProcess.h"
#include "platform/posix/PlistDefaults.h"
#include "platform/posix/SingleInstanceLock.h"
#include "support/TempHome.h"

namespace quillory::platform::qt::test {
namespace {

TEST(SingleInstance, SecondHelperExitsWithoutTouchingAnything) {
  testing::TempHome home;
  posix::SingleInstanceLock running(posix::defaultLockFile(home.path()));
  ASSERT_TRUE(running.acquired());
  const auto folder = posix::defaultDefaultsFile(home.path()).parent_path();
  const auto before = files::listFolder(folder);

  // Started with posix_spawn (not QProcess, whose child runs in this process's
  // memory and so confuses ThreadSanitizer); standard error joins the output.
  auto second = posix::ChildProcess::spawn(
      "/usr/bin/env", {"-u", "XDG_CONFIG_HOME", "HOME=" + home.path().string(), "QT_QPA_PLATFORM=offscreen",
                       "/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLORY_HELPER_PATH});
  ASSERT_TRUE(second);
  std::string output;
  second->readOutput(output);
  ASSERT_TRUE(second->waitForExit(std::chrono::seconds(10)));
  EXPECT_EQ(second->reap().code, 1);
  EXPECT_EQ(output.rfind("quillory-helper: Quillory Helper is already running", 0), 0u) << output;
  EXPECT_EQ(output.find('\n'), output.size() - 1) << "one line";
  EXPECT_EQ(files::listFolder(folder), before);  // no settings file, nothing else
  EXPECT_FALSE(files::exists(home / ".config/autostart"));
}

}  // namespace
}  // namespace quillory::platform::qt::test
