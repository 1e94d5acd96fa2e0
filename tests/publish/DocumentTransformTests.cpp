#include <gtest/gtest.h>
#include <pthread.h>

#include "publish/Derivations.h"
#include "publish/DocumentTransform.h"
#include "publish/ExportError.h"
#include "support/FakeClock.h"

namespace quillory::publish {
namespace {

const std::set<std::string> kKeep(kKeptItemFields.begin(), kKeptItemFields.end());

std::string nestedExport(std::size_t depth) {
  return R"({"items":[{"id":1,"notes":)" + std::string(depth, '[') + std::string(depth, ']') + "}]}";
}

// Runs the work on a thread with a stack as small as a dispatch queue's
// worker thread gets on macOS (512 KB).
template <typename Work>
void onSmallStack(Work work) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 512 * 1024);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    (*static_cast<Work*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(DocumentTransform, DeepExportsFitASmallStack) {
  testing::FakeClock clock;
  std::optional<ExportErrorCode> deepest;
  std::size_t acceptedSize = 0;
  onSmallStack([&] {
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
