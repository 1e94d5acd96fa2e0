#include "presentation/SwitchOffQuestion.h"

namespace quillory::presentation {

platform::Alert switchOffQuestion(const std::string& name) {
  platform::Alert alert;
  alert.message = "Remove \"" + name + "\" from mobile devices?";
  alert.informativeText =
      "Disabling sync will delete this library and its data from Quillory on your iPhone and/or iPad.";
  alert.style = platform::AlertStyle::warning;
  alert.buttons = {"Remove", "Cancel"};
  return alert;
}

}  // namespace quillory::presentation
