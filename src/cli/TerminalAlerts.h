#pragma once
// Modal alerts on a terminal, for the command-line front end.
//
// Every alert's texts are written to the output stream (standard error) with
// control characters escaped (TerminalText.h); the informative text keeps its
// line breaks. An alert with one button only informs (the name-conflict
// alert): it is acknowledged at once; nothing is read. An alert with several buttons is a
// question:
// - when one of the preset answers (button titles, from --answer or --yes)
//   names one of its buttons, that button is chosen without asking;
// - otherwise, when interactive (standard input is a terminal), the question
//   is asked and a line read: a button's number or title (any letter case),
//   or an empty line for the first, default button; a line that is neither
//   asks again;
// - otherwise, and at the end of input, it ends without an answer
//   (`kAlertAbandoned`): nothing is decided ("Cancel" for a switch-off; the
//   first-sync question stores nothing and the sync is skipped).
// The alert, the choice and the reason for it are always written out, so a
// log of a non-interactive run shows what was decided.
//
// Threading: main thread (like every AlertPresenter); brackets the alert with
// a ModalScope.

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/AlertPresenter.h"

namespace quillory::platform {
class Dispatcher;
}

namespace quillory::cli {

class TerminalAlerts final : public platform::AlertPresenter {
 public:
  TerminalAlerts(platform::Dispatcher& dispatcher, std::istream& in, std::ostream& out, bool interactive,
                 std::vector<std::string> presetAnswers);

  int run(const platform::Alert& alert) override;

 private:
  int ask(const platform::Alert& alert);

  platform::Dispatcher& dispatcher_;
  std::istream& in_;
  std::ostream& out_;
  const bool interactive_;
  const std::vector<std::string> presetAnswers_;
};

}  // namespace quillory::cli
