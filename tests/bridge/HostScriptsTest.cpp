#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "bridge/HostScripts.h"
#include "support/FakeWorkspace.h"

namespace quillory::bridge::test {
namespace {

TEST(IsHostRunning, ComparesBundleIdentifiersExactly) {
  const std::string host(kHostBundleID);
  const std::pair<std::vector<std::optional<std::string>>, bool> cases[] = {
      {{}, false},
      {{"com.example.a", std::nullopt, host}, true},
      {{std::nullopt, std::string()}, false},
      {{"Test.KettleLedger.Desktop2", "test.kettleledger.desktop", host + ".helper", " " + host}, false}};
  for (const auto& [running, expected] : cases) {
    testing::FakeWorkspace workspace;
    workspace.setRunning(running);
    EXPECT_EQ(isHostRunning(workspace), expected) << running.size() << " applications";
  }
}

}  // namespace
}  // namespace quillory::bridge::test
