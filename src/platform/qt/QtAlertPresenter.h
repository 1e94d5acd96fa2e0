#pragma once
// Modal alerts as `QMessageBox`: the style's standard icon, the message as the
// main text and the informative text below it, the buttons in the order given
// with the first as the default button and the last as the one Escape
// chooses. The alert is bracketed with a `ModalScope`, so the dispatcher's
// timers do not fire while it is open. An alert the user did not cause is
// shown without activating its window and takes no keyboard focus during its
// first `keyHoldOff` (the keyboard stays with the window the user types in;
// afterwards a click gives it the keyboard), and key presses that reach it
// meanwhile are dropped.
//
// Threading: main thread only.

#include <atomic>
#include <chrono>
#include <functional>

#include "platform/AlertPresenter.h"
#include "platform/Dispatcher.h"

class QMessageBox;

namespace quillory::platform::qt {

class QtAlertPresenter final : public AlertPresenter {
 public:
  static constexpr std::chrono::milliseconds kKeyHoldOff{1000};

  explicit QtAlertPresenter(Dispatcher& dispatcher, std::chrono::milliseconds keyHoldOff = kKeyHoldOff);

  int run(const Alert& alert) override;

  // The program is ending: an alert open now, and any shown later, ends with
  // `kAlertAbandoned` instead of an answer. Any thread; the caller then leaves
  // the event loops.
  void abandonAlerts() { abandoned_.store(true); }

  // Called with the box just before it runs, for tests that answer it.
  void setAboutToShow(std::function<void(QMessageBox&)> hook) { aboutToShow_ = std::move(hook); }
  // Called with true when an alert opens while none is open, with false when
  // the last open one closes (the status item opens no menu meanwhile).
  void setOpenChanged(std::function<void(bool open)> hook) { openChanged_ = std::move(hook); }

 private:
  Dispatcher& dispatcher_;
  const std::chrono::milliseconds keyHoldOff_;
  std::function<void(QMessageBox&)> aboutToShow_;
  std::function<void(bool)> openChanged_;
  int openAlerts_ = 0;  // main thread
  std::atomic<bool> abandoned_{false};
};

}  // namespace quillory::platform::qt
