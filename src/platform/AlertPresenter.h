#pragma once
// Modal alerts.
//
// Contract: `run` shows one modal alert with the message, the informative
// text, the style and the buttons in the given order (the first is the
// default button) and returns the index of the button that ended it, or -1
// when it ended otherwise. While it runs, the dispatcher's timers do not fire
// (implementations bracket the alert with a `ModalScope`).
//
// An alert the user did not cause (`causedByUser` false: a question or a
// report of work the helper started by itself) must not be answered by keys
// meant for another window: it does not take keyboard focus from the window
// the user is typing in, and its buttons ignore key presses for its first
// second on screen. An alert the user caused takes the focus at once.
//
// Threading: main thread only. Other threads hand the call over with
// `Dispatcher::sync`.

#include <string>
#include <vector>

namespace quillory::platform {

// The alert ended without the user's answer: the program is ending, or
// nobody could be asked (no terminal). Unlike -1, it is no "no".
inline constexpr int kAlertAbandoned = -2;

enum class AlertStyle { warning, informational, critical };

struct Alert {
  std::string message;
  std::string informativeText;
  AlertStyle style = AlertStyle::warning;
  std::vector<std::string> buttons;
  bool causedByUser = true;
};

class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  virtual int run(const Alert& alert) = 0;
};

}  // namespace quillory::platform
