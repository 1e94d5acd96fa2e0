#include <gtest/gtest.h>

#include <atomic>
#include <boost/json/parse.hpp>
#include <thread>

#include "platform/Files.h"
#include "publish/Destinations.h"
#include "support/CapturingLog.h"
#include "support/TempHome.h"

namespace quillory::publish {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

// A document whose size changes with n, so that a torn read cannot parse.
std::string documentNumber(int n) {
  return R"({"n":)" + std::to_string(n) + R"(,"items":[)" + std::string(1000 + (n % 7) * 20000, ' ') + "]}";
}

TEST(AtomicPublish, AReaderNeverSeesAPartialDocument) {
  testing::TempHome home;
  testing::CapturingLog log;
  const fs::path document = home /
                            "Library/Mobile "
                            "Documents/iCloud~test~quillory~mobile/Documents/business-eur.json";
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done.load()) {
      const auto text = platform::files::readFile(document);
      if (!text) continue;
      std::error_code error;
      const json::value value = json::parse(*text, error);
      if (error || *text != documentNumber(static_cast<int>(value.at("n").as_int64()))) ++torn;
      ++reads;
    }
  });
  constexpr int kWrites = 60;
  for (int n = 0; n < kWrites; ++n) {
    const std::string bytes = documentNumber(n);
    const PublishRequest request{bytes, "2026-12-05T09:00:00Z", "business-eur", "eur"};
    EXPECT_EQ(publishDocument(home.path(), "test.quillory.mobile", request, log), 1);
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(reads.load(), 0);
  // Only the pair remains: no temporary file was left behind.
  EXPECT_EQ(platform::files::listFolder(document.parent_path())->size(), 2u);
}

}  // namespace
}  // namespace quillory::publish
