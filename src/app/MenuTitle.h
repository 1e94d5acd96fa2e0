#pragma once
// Menu titles that stay a usable width: a text longer than
// `kMenuTitleMaxCharacters` user-perceived characters (grapheme clusters) is
// shortened in its middle to that many, the cut marked with "…", so that the
// beginning and the end of a long library name stay readable and the menu's
// shortcuts and submenu arrow stay on screen. The whole text belongs in the
// item's tool tip. Pure; any thread.

#include <cstddef>
#include <string>

namespace quillory::app {

inline constexpr std::size_t kMenuTitleMaxCharacters = 60;

std::string elidedMenuTitle(const std::string& text);

}  // namespace quillory::app
