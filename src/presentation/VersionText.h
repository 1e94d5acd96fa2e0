#pragma once
// What "--version" prints, as GNU programs do: the program's name, version
// and build number, then the copyright notice and the licence, each line
// ending in a line break:
//   quillory-helper 1.0.0 (1)
//   Copyright (c) 2026 The Quillory Helper developers
//   License MIT: <https://opensource.org/license/mit>.
//   This is free software: you are free to change and redistribute it.
//   There is NO WARRANTY, to the extent permitted by law.
// The copyright notice is LICENSE's (the build passes it in). Pure.

#include <string>
#include <string_view>

namespace quillory::presentation {

std::string versionText(std::string_view program, std::string_view version, std::string_view build,
                        std::string_view copyright);

}  // namespace quillory::presentation
