#include "presentation/LibraryLine.h"

namespace quillory::presentation {

std::string libraryLine(const std::optional<std::string>& name) {
  return name ? "Library: " + *name : kOpenHostText;
}

}  // namespace quillory::presentation
