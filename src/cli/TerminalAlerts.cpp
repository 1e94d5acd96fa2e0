#include "cli/TerminalAlerts.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>
#include <utility>

#include "cli/TerminalText.h"
#include "platform/Dispatcher.h"

namespace quillory::cli {

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

TerminalAlerts::TerminalAlerts(platform::Dispatcher& dispatcher, std::istream& in, std::ostream& out,
                               bool interactive, std::vector<std::string> presetAnswers)
    : dispatcher_(dispatcher),
      in_(in),
      out_(out),
      interactive_(interactive),
      presetAnswers_(std::move(presetAnswers)) {}

int TerminalAlerts::run(const platform::Alert& alert) {
  platform::ModalScope modal(dispatcher_);
  out_ << '\n' << terminalText(alert.message) << '\n';
  if (!alert.informativeText.empty()) out_ << '\n' << terminalText(alert.informativeText, true) << '\n';
  out_ << '\n';

  if (alert.buttons.size() <= 1) {
    if (!alert.buttons.empty()) out_ << "[" << alert.buttons.front() << "] (acknowledged)\n";
    out_.flush();
    return alert.buttons.empty() ? -1 : 0;
  }

  for (const std::string& preset : presetAnswers_) {
    const auto it = std::find(alert.buttons.begin(), alert.buttons.end(), preset);
    if (it != alert.buttons.end()) {
      out_ << "-> " << *it << " (given on the command line)\n";
      out_.flush();
      return static_cast<int>(it - alert.buttons.begin());
    }
  }
  if (interactive_) return ask(alert);

  out_ << "-> no answer (standard input is not a terminal and none was given on the command line)\n";
  out_.flush();
  return platform::kAlertAbandoned;
}

int TerminalAlerts::ask(const platform::Alert& alert) {
  for (;;) {
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
      out_ << (i == 0 ? "" : "  ") << "[" << (i + 1) << "] " << alert.buttons[i];
    }
    out_ << "\nChoose 1-" << alert.buttons.size() << " (Enter: " << alert.buttons.front() << "): ";
    out_.flush();

    std::string line;
    if (!std::getline(in_, line)) {
      out_ << "\n-> no answer (end of input)\n";
      out_.flush();
      return platform::kAlertAbandoned;
    }
    const std::string answer = trimmed(line);
    if (answer.empty()) return 0;
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
      if (answer == std::to_string(i + 1) || lowered(answer) == lowered(alert.buttons[i])) {
        return static_cast<int>(i);
      }
    }
    out_ << "Please answer with a number from 1 to " << alert.buttons.size() << ".\n";
  }
}

}  // namespace quillory::cli
