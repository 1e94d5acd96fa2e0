#include "presentation/VersionText.h"

namespace quillory::presentation {

std::string versionText(std::string_view program, std::string_view version, std::string_view build,
                        std::string_view copyright) {
  std::string text;
  text.append(program).append(" ").append(version).append(" (").append(build).append(")\n");
  text.append(copyright).append("\n");
  text +=
      "License MIT: <https://opensource.org/license/mit>.\n"
      "This is free software: you are free to change and redistribute it.\n"
      "There is NO WARRANTY, to the extent permitted by law.\n";
  return text;
}

}  // namespace quillory::presentation
