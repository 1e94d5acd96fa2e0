// The end of the process. Ending is one-way (the child registry closes for
// good), so every case runs in a process of its own (a death test), which
// reports by its exit status; an alarm ends one that would hang.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/posix/ExitCleanup.h"
#include "support/TempHome.h"

namespace quillory::platform::posix {
namespace {

using namespace std::chrono_literals;

// A child that ignores the termination request (an ignored signal stays
// ignored through exec), as does the process it starts, which holds its output.
std::unique_ptr<ChildProcess> ignoringTermination() {
  ::signal(SIGTERM, SIG_IGN);
  auto child = ChildProcess::spawn("/bin/sh", {"-c", "sleep 100 & wait"});
  ::signal(SIGTERM, SIG_DFL);
  return child;
}

// Each returns 0 when what it checks holds, else the number of the failed check.
TEST(ExitCleanupTest, StoppingTheChildGroupsClosesTheRegistryForGood) {
  const struct {
    const char* what;
    int (*body)();
  } cases[] = {
      {"a child ignoring the termination request is killed after the grace, with its whole group",
       [] {
         auto child = ignoringTermination();
         if (!child) return 1;
         if (exitcleanup::stopChildGroups(200ms) != 1) return 2;
         std::string output;
         child->readOutput(output);  // ends when the process it started has ended too
         return child->reap().signal == SIGKILL ? 0 : 3;
       }},
      {"a child reaped by its owner, or by the system with SIGCHLD ignored, is forgotten",
       [] {
         auto reaped = ChildProcess::spawn("/bin/true", {});
         if (!reaped) return 1;
         reaped->reap();
         ::signal(SIGCHLD, SIG_IGN);
         auto elsewhere = ChildProcess::spawn("/bin/true", {});
         if (!elsewhere || !elsewhere->waitForExit(10s)) return 2;
         // Nothing is waited for or signalled: a freed id may name another process.
         return exitcleanup::stopChildGroups(0ms) == 0 ? 0 : 3;
       }},
      {"a child started once the process has begun to end is refused, and none is left",
       [] {
         exitcleanup::stopChildGroups(0ms);
         if (ChildProcess::spawn("/bin/sleep", {"100"})) return 1;
         return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD ? 0 : 2;
       }},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          ::alarm(30);
          ::_exit(c.body());
        },
        ::testing::ExitedWithCode(0), "")
        << c.what;
  }
}

std::atomic<bool> handling{false};
std::atomic<bool> streamHeld{false};

// A termination signal ends the process with 128 + the signal, removing the
// temporary files of writes in progress, whatever holds the standard streams;
// a second signal while the first is handled (here: waiting for a child that
// ignores it) ends it at once.
TEST(ExitCleanupTest, TerminationSignalsEndTheProcess) {
  quillory::testing::TempHome home;
  const std::filesystem::path temporary = home.writeFile(".qh-1-abcdef.tmp", "partial");
  const struct {
    const char* what;
    int exitSignal;
    void (*send)();
  } cases[] = {
      {"one signal", SIGTERM, [] { ::kill(::getpid(), SIGTERM); }},
      {"a thread holds standard output", SIGTERM,
       [] {
         std::thread([] {
           ::flockfile(stdout);  // as a write blocked on a paused terminal does
           streamHeld = true;
           ::pause();
         }).detach();
         while (!streamHeld) std::this_thread::sleep_for(1ms);
         ::kill(::getpid(), SIGTERM);
       }},
      {"a second signal", SIGINT,
       [] {
         auto child = ignoringTermination().release();
         if (child == nullptr) ::_exit(1);
         ::kill(::getpid(), SIGTERM);
         while (!handling) std::this_thread::sleep_for(1ms);
         ::kill(::getpid(), SIGINT);
       }},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          ::alarm(30);
          exitcleanup::blockTerminationSignals();
          exitcleanup::watchTerminationSignals([](int signal) {
            handling = true;
            exitcleanup::cleanUpAndExit(signal, 1h);
          });
          exitcleanup::addTemporaryFile(temporary.string());
          c.send();
          std::this_thread::sleep_for(60s);
        },
        ::testing::ExitedWithCode(128 + c.exitSignal), "")
        << c.what;
    EXPECT_FALSE(std::filesystem::exists(temporary)) << c.what;
    home.writeFile(temporary.filename(), "partial");
  }
}

}  // namespace
}  // namespace quillory::platform::posix
