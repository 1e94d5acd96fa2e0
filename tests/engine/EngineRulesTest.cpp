// The name tracker and the idle rule as plain values: sequences of events in,
// names, reasons and "tell the menu" out.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "engine/IdleRule.h"
#include "engine/LibraryNameTracker.h"

namespace quillory::engine::test {
namespace {

std::optional<std::string> orNone(const std::string& s) {
  return s.empty() ? std::nullopt : std::optional(s);
}

// 'r': a check reports `reported` ("" for no usable name); 's': the host is not
// running; 'q': the host quit. Then the names left ("" for none; confirmed
// is always known) and whether the menu is told.
struct NameStep {
  char event;
  std::string reported, current, pending, known;
  bool tell;
};

TEST(LibraryNameTracker, FollowsTheReportedNames) {
  const struct {
    const char* name;
    std::vector<NameStep> steps;
  } cases[] = {
      // Canonically equivalent names are the same library; case still counts.
      {"SettlesOnTheSecondSighting",
       {{'r', "Caf\u00e9", "Caf\u00e9", "Caf\u00e9", "", true},
        {'r', "Caf\u00e9", "Caf\u00e9", "", "Caf\u00e9", true},
        {'r', "Caf\u00e9", "Caf\u00e9", "", "Caf\u00e9", false},
        {'r', "Cafe\u0301", "Caf\u00e9", "", "Caf\u00e9", false},
        {'r', "caf\u00e9", "caf\u00e9", "caf\u00e9", "Caf\u00e9", true}}},
      {"SwitchBackStopAndQuit",
       {{'r', "A", "A", "A", "", true},
        {'r', "A", "A", "", "A", true},
        {'r', "B", "B", "B", "A", true},
        {'r', "A", "A", "", "A", true},
        {'r', "B", "B", "B", "A", true},
        {'s', "", "", "B", "A", true},
        {'s', "", "", "B", "A", false},
        {'r', "A", "A", "", "A", true},
        {'q', "", "", "", "", false}}},
      // With nothing pending, a time-out clears the settled name at once.
      {"TimeOutWhileAIsKnown",
       {{'r', "A", "A", "A", "", true},
        {'r', "A", "A", "", "A", true},
        {'r', "", "", "", "", true},
        {'r', "A", "A", "A", "", true}}},
  };
  for (const auto& c : cases) {
    LibraryNameTracker tracker;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const NameStep& step = c.steps[i];
      SCOPED_TRACE(std::string(c.name) + " step " + std::to_string(i));
      bool told = false;
      if (step.event == 'r') told = tracker.report(orNone(step.reported));
      if (step.event == 's') told = tracker.hostNotRunning();
      if (step.event == 'q') tracker.hostQuit();
      const LibraryNames& n = tracker.names();
      EXPECT_EQ(std::tuple(n.current, n.pending, n.known, n.confirmed, told),
                std::tuple(orNone(step.current), orNone(step.pending), orNone(step.known), orNone(step.known),
                           step.tell));
    }
  }
}

// Seconds after the launch: 'a' the host is activated, 'e' an export
// succeeds, 'c' a check with auto-sync on, 'o' one with it off; then the
// reason the check gives ("" for none).
struct IdleStep {
  char event;
  int at;
  std::string reason;
};

TEST(IdleRule, SyncsOncePerActivationWhenHostAndExportAreThreeMinutesBack) {
  const struct {
    const char* name;
    std::vector<IdleStep> steps;
  } cases[] = {
      {"OnceFromThreeMinutes", {{'c', 179, ""}, {'c', 180, "idle 3 min"}, {'c', 600, ""}}},
      {"ActivationRearms",
       {{'c', 185, "idle 3 min"}, {'a', 200, ""}, {'c', 379, ""}, {'c', 499, "idle 4 min"}}},
      {"RecentExportPostpones", {{'e', 100, ""}, {'c', 279, ""}, {'c', 280, "idle 4 min"}}},
      {"AutoSyncOffLeavesTheActivationUnused", {{'o', 600, ""}, {'c', 610, "idle 10 min"}}},
      {"ClockBeforeTheActivation", {{'a', 400, ""}, {'c', 300, ""}, {'c', 580, "idle 3 min"}}},
  };
  const platform::Date launch = std::chrono::sys_days{std::chrono::year{2026} / 12 / 5};
  for (const auto& c : cases) {
    IdleRule rule(launch);
    for (const IdleStep& step : c.steps) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(step.at));
      const platform::Date at = launch + std::chrono::seconds(step.at);
      if (step.event == 'a') rule.hostActivated(at);
      if (step.event == 'e') rule.exported(at);
      if (step.event == 'c' || step.event == 'o') {
        EXPECT_EQ(rule.take(at, step.event == 'c'), orNone(step.reason));
      }
    }
  }
}

}  // namespace
}  // namespace quillory::engine::test
