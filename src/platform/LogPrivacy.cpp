#include "platform/LogPrivacy.h"

#include <algorithm>

namespace quillory::platform {

std::size_t publicPartLength(std::string_view line) {
  std::size_t end = std::min(line.find_first_of("'\"/~"), line.size());
  if (const std::size_t colon = line.find(": "); colon != std::string_view::npos) {
    end = std::min(end, colon + 2);
  }
  return end;
}

}  // namespace quillory::platform
