#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/HostScripts.h"
#include "support/FakeWorkspace.h"

namespace quillory::bridge::test {
namespace {

struct HostCase {
  const char* name;
  std::vector<std::optional<std::string>> running;
  bool expected;
  friend void PrintTo(const HostCase& c, std::ostream* os) { *os << c.name; }
};

class IsHostRunningTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(IsHostRunningTest, ComparesBundleIdentifiersExactly) {
  testing::FakeWorkspace workspace;
  workspace.setRunning(GetParam().running);
  EXPECT_EQ(isHostRunning(workspace), GetParam().expected);
}

const std::string kHost(kHostBundleID);

INSTANTIATE_TEST_SUITE_P(
    Cases, IsHostRunningTest,
    ::testing::Values(HostCase{"EmptyList", {}, false}, HostCase{"OnlyTheHost", {kHost}, true},
                      HostCase{"HostAfterOthersAndNone", {"com.example.a", std::nullopt, kHost}, true},
                      HostCase{"OnlyApplicationsWithoutIdentifier", {std::nullopt, std::nullopt}, false},
                      HostCase{"OtherCase", {"Test.KettleLedger.Desktop2"}, false},
                      HostCase{"Prefix", {"test.kettleledger.desktop"}, false},
                      HostCase{"Longer", {kHost + ".helper"}, false},
                      HostCase{"SurroundingSpace", {" " + kHost}, false},
                      HostCase{"EmptyIdentifier", {std::string()}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillory::bridge::test
