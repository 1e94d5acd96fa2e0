#pragma once
// The question asked before a library's sync is switched off, from the
// Libraries submenu and from "quillory-helper-cli disable": switching off
// deletes the library's published documents. "Remove" is button 0. Pure.

#include <string>

#include "platform/AlertPresenter.h"

namespace quillory::presentation {

platform::Alert switchOffQuestion(const std::string& name);

// The alert after a confirmed "Remove" whose switch-off could not be stored
// (`reason`, such as "Read-only file system"): the library stays published.
platform::Alert switchOffNotStoredAlert(const std::string& name, const std::string& reason);

}  // namespace quillory::presentation
