#pragma once
// Runs the Qt event loop of the test's main thread until a condition holds.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <functional>
#include <string>

#include "platform/ChildProcess.h"

namespace quillory::platform::qt::test {

inline bool pumpUntil(const std::function<bool()>& done, int timeoutMilliseconds = 5000) {
  QDeadlineTimer deadline(timeoutMilliseconds);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  }
  return true;
}

// Runs the loop for about the given time, whatever happens.
inline void pumpFor(int milliseconds) {
  QDeadlineTimer deadline(milliseconds);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Runs the loop until `done` holds (30 seconds at most), adding what `child`
// writes to `output` meanwhile.
inline bool pumpReading(ChildProcess& child, std::string& output, const std::function<bool()>& done) {
  const auto append = [&output](std::string_view piece) { output.append(piece); };
  return pumpUntil([&] { return child.read(std::chrono::milliseconds(10), append), done(); }, 30000);
}

}  // namespace quillory::platform::qt::test
