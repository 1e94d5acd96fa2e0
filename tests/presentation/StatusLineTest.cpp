#include <gtest/gtest.h>

#include "presentation/StatusLine.h"

namespace quillory::presentation {
namespace {

// A standing notice (no script launcher) comes before the last sync's date.
// (A running sync before an error, an error before a notice, and each line's
// text: the Qt shell's tests.)
TEST(StatusLine, ANoticeComesBeforeTheLastSyncsDate) {
  const std::string notice = "Kettle Ledger runs on macOS";
  EXPECT_EQ(
      statusLineFor(false, std::nullopt, notice, platform::Date{}, [](platform::Date) { return "then"; }),
      (StatusLine{notice, true}));
}

}  // namespace
}  // namespace quillory::presentation
