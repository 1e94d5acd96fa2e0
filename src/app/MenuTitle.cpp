#include "app/MenuTitle.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>
#include <vector>

namespace quillory::app {

std::string elidedMenuTitle(const std::string& text) {
  // A character takes at least one byte: a short text needs no counting.
  if (text.size() <= kMenuTitleMaxCharacters) return text;

  const icu::UnicodeString whole = icu::UnicodeString::fromUTF8(text);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> characters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status) || !characters) return text;
  characters->setText(whole);
  std::vector<int32_t> starts;  // where each character starts, then the end
  for (int32_t at = characters->first(); at != icu::BreakIterator::DONE; at = characters->next()) {
    starts.push_back(at);
  }
  const std::size_t count = starts.size() - 1;
  if (count <= kMenuTitleMaxCharacters) return text;

  const std::size_t kept = kMenuTitleMaxCharacters - 1;  // one is the "…"
  const std::size_t head = kept - kept / 2, tail = kept / 2;
  icu::UnicodeString shortened(whole, 0, starts[head]);
  shortened.append(static_cast<UChar>(0x2026))
      .append(whole, starts[count - tail], starts[count] - starts[count - tail]);
  std::string out;
  shortened.toUTF8String(out);
  return out;
}

}  // namespace quillory::app
