// A second quillory-helper leaves at once, says why, and touches nothing.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "platform/Files.h"
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

  QProcess second;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("HOME"), QString::fromStdString(home.path().string()));
  environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  second.setProcessEnvironment(environment);
  second.start(QStringLiteral(QUILLORY_HELPER_PATH), {});
  ASSERT_TRUE(second.waitForFinished(10000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 1);
  const QString error = QString::fromUtf8(second.readAllStandardError());
  EXPECT_TRUE(error.contains(QStringLiteral("Quillory Helper is already running"))) << error.toStdString();
  EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
  EXPECT_EQ(files::listFolder(folder), before);  // no settings file, nothing else
  EXPECT_FALSE(files::exists(home / ".config/autostart"));
}

}  // namespace
}  // namespace quillory::platform::qt::test
