#pragma once
// Modal alerts as `QMessageBox`: the style's standard icon, the message as the
// main text and the informative text below it, the buttons in the order given
// with the first as the default button and the last as the one Escape
// chooses. The alert is bracketed with a `ModalScope`, so the dispatcher's
// timers do not fire while it is open.
//
// Threading: main thread only.

#include "platform/AlertPresenter.h"
#include "platform/Dispatcher.h"

class QMessageBox;

namespace quillory::platform::qt {

class QtAlertPresenter final : public AlertPresenter {
 public:
  explicit QtAlertPresenter(Dispatcher& dispatcher);

  int run(const Alert& alert) override;

  // Called with the box just before it runs, for tests that answer it.
  void setAboutToShow(std::function<void(QMessageBox&)> hook) { aboutToShow_ = std::move(hook); }

 private:
  Dispatcher& dispatcher_;
  std::function<void(QMessageBox&)> aboutToShow_;
};

}  // namespace quillory::platform::qt
