#include "platform/qt/QtDispatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>

namespace quillory::platform::qt {

namespace {

void makePipe(posix::OwnedFd& readEnd, posix::OwnedFd& writeEnd) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  readEnd = posix::OwnedFd(fds[0]);
  writeEnd = posix::OwnedFd(fds[1]);
  for (int fd : fds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
}

}  // namespace

QtDispatcher::QtDispatcher()
    : mainThread_(std::this_thread::get_id()), timerOwner_(std::make_unique<QObject>()) {
  makePipe(wakeRead_, wakeWrite_);
  notifier_ = std::make_unique<QSocketNotifier>(wakeRead_.get(), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { runQueued(); });
}

QtDispatcher::~QtDispatcher() {
  std::deque<Item> dropped;
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
    dropped.swap(queue_);
  }
  for (Item& item : dropped) {
    if (item.waiter) item.waiter->release();
  }
  // Workers still running may queue main work or wait in `sync`; both return
  // at once now.
  workers_.shutdown();
  {
    std::lock_guard lock(mutex_);
    dropped.swap(queue_);
  }
  for (Item& item : dropped) {
    if (item.waiter) item.waiter->release();
  }
  notifier_.reset();  // before its descriptor closes
  timerOwner_.reset();
}

bool QtDispatcher::enqueue(Item item) {
  std::lock_guard lock(mutex_);
  if (shuttingDown_) return false;
  queue_.push_back(std::move(item));
  if (!wakePending_) {
    wakePending_ = true;
    const char byte = 1;
    // The pipe is empty whenever no wake is pending, so this write never
    // blocks or fills it.
    [[maybe_unused]] ssize_t written = ::write(wakeWrite_.get(), &byte, 1);
  }
  return true;
}

void QtDispatcher::runQueued() {
  std::size_t count;
  {
    std::lock_guard lock(mutex_);
    char buffer[16];
    while (::read(wakeRead_.get(), buffer, sizeof buffer) > 0) {
    }
    wakePending_ = false;
    count = queue_.size();
  }
  // Runs the tasks that were there when the loop woke; tasks they queue run
  // at the next wake, so other events get their turn in between.
  for (std::size_t i = 0; i < count; ++i) {
    Item item;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    item.task();
    item.task = nullptr;
    if (item.waiter) item.waiter->release();
  }
}

void QtDispatcher::async(Task task) { enqueue(Item{std::move(task), nullptr}); }

void QtDispatcher::sync(Task task) {
  if (isMainThread()) {
    task();
    return;
  }
  auto waiter = std::make_shared<posix::SyncWaiter>();
  if (!enqueue(Item{std::move(task), waiter})) return;
  waiter->wait();
}

void QtDispatcher::global(QualityOfService qos, Task task) { workers_.submit(qos, std::move(task)); }

void QtDispatcher::repeatOnMain(std::chrono::milliseconds interval, Task tick) {
  if (isMainThread()) {
    startTimer(interval, std::move(tick));
    return;
  }
  async([this, interval, tick = std::move(tick)]() mutable { startTimer(interval, std::move(tick)); });
}

void QtDispatcher::startTimer(std::chrono::milliseconds interval, Task tick) {
  auto* timer = new QTimer(timerOwner_.get());
  timer->setTimerType(Qt::CoarseTimer);
  timer->setInterval(std::max(interval, std::chrono::milliseconds(1)));
  QObject::connect(timer, &QTimer::timeout, timer, [this, tick = std::move(tick)] {
    if (!timersHeld()) tick();
  });
  timer->start();
}

bool QtDispatcher::timersHeld() const {
  if (modalDepth_.load() > 0) return true;
  auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
  return application && QApplication::activeModalWidget() != nullptr;
}

bool QtDispatcher::isMainThread() const { return std::this_thread::get_id() == mainThread_; }

void QtDispatcher::enterModal() { modalDepth_.fetch_add(1); }

void QtDispatcher::exitModal() { modalDepth_.fetch_sub(1); }

}  // namespace quillory::platform::qt
