#pragma once
// The question asked before a library's sync is switched off, from the
// Libraries submenu and from "quillory-helper-cli disable": switching off
// deletes the library's published documents. "Remove" is button 0. Pure.

#include <string>

#include "platform/AlertPresenter.h"

namespace quillory::presentation {

platform::Alert switchOffQuestion(const std::string& name);

}  // namespace quillory::presentation
