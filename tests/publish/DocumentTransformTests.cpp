#include <gtest/gtest.h>

#include "publish/Derivations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"
#include "support/FakeClock.h"
#include "support/SmallStack.h"

namespace quillory::publish {
namespace {

const std::set<std::string> kKeep(kKeptItemFields.begin(), kKeptItemFields.end());

std::string nestedExport(std::size_t depth) {
  return R"({"items":[{"id":1,"notes":)" + std::string(depth, '[') + std::string(depth, ']') + "}]}";
}

TEST(DocumentTransform, DeepExportsFitASmallStack) {
  testing::FakeClock clock;
  std::optional<ExportErrorCode> deepest;
  std::size_t acceptedSize = 0;
  testing::onSmallStack([&] {
    acceptedSize =
        prepareExport(nestedExport(kMaxExportDepth - 3), std::nullopt, kKeep, clock).documentBytes.size();
    try {
      prepareExport(nestedExport(kMaxExportDepth - 2), std::nullopt, kKeep, clock);
    } catch (const ExportError& error) {
      deepest = error.code();
    }
  });
  EXPECT_GT(acceptedSize, 2 * (kMaxExportDepth - 3));
  EXPECT_EQ(deepest, ExportErrorCode::parseFailure);
}

}  // namespace
}  // namespace quillory::publish
