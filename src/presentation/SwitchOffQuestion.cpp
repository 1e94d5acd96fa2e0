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

platform::Alert switchOffNotStoredAlert(const std::string& name, const std::string& reason) {
  platform::Alert alert;
  alert.message = "\"" + name + "\" was not removed from mobile devices";
  alert.informativeText = "Quillory Helper could not save that its sync is off: " + reason +
                          ". The library stays on your iPhone and/or iPad and is synced again until "
                          "switching it off can be saved.";
  alert.style = platform::AlertStyle::warning;
  alert.buttons = {"OK"};
  return alert;
}

}  // namespace quillory::presentation
