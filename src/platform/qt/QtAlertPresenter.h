#pragma once
// Modal alerts as `QMessageBox`: the style's standard icon, the message as the
// main text and the informative text below it, the buttons in the order given
// with the first as the default button and the last as the one Escape
// chooses. The alert is bracketed with a `ModalScope`, so the dispatcher's
// timers do not fire while it is open.
//
// Threading: main thread only.

#include <atomic>
#include <functional>

#include "platform/AlertPresenter.h"
#include "platform/Dispatcher.h"

class QMessageBox;

namespace quillory::platform::qt {

class QtAlertPresenter final : public AlertPresenter {
 public:
  explicit QtAlertPresenter(Dispatcher& dispatcher);

  int run(const Alert& alert) override;

  // The program is ending: an alert open now, and any shown later, ends with
  // `kAlertAbandoned` instead of an answer. Any thread; the caller then leaves
  // the event loops.
  void abandonAlerts() { abandoned_.store(true); }

  // Called with the box just before it runs, for tests that answer it.
  void setAboutToShow(std::function<void(QMessageBox&)> hook) { aboutToShow_ = std::move(hook); }

 private:
  Dispatcher& dispatcher_;
  std::function<void(QMessageBox&)> aboutToShow_;
  std::atomic<bool> abandoned_{false};
};

}  // namespace quillory::platform::qt
