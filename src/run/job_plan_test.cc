#include "run/job_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zavo {
namespace {

// Plays a script against a plan: "+A" adds an archive named A, "+m" a
// marker, "take" expects the named archive (or "-" for none) to be taken,
// "done A" ends A's job, "front" expects the first item ("m", an archive's
// name or "busy:NAME" or "none") and "pop" applies it; "stop" expects the
// dropped archives.
struct Step {
  std::string action;
  std::string expect;
};

void Play(int jobs, int parked, const std::vector<Step>& script) {
  JobPlan plan(jobs, parked);
  std::vector<std::pair<JobPlan::Id, std::string>> names;
  auto name_of = [&names](JobPlan::Id id) {
    for (const auto& n : names) {
      if (n.first == id) return n.second;
    }
    return std::string("?");
  };
  auto id_of = [&names](const std::string& name) {
    for (const auto& n : names) {
      if (n.second == name) return n.first;
    }
    return JobPlan::Id{0};
  };
  int line = 0;
  for (const Step& step : script) {
    SCOPED_TRACE("step " + std::to_string(++line) + ": " + step.action);
    const std::string& a = step.action;
    if (a[0] == '+') {
      std::string name = a.substr(1);
      names.push_back(
          {name == "m" ? plan.AddMarker() : plan.AddArchive(), name});
    } else if (a == "take" || a == "take-noroom") {
      JobPlan::Id id = 0;
      bool taken = plan.Take(&id, a == "take");
      EXPECT_EQ(step.expect, taken ? name_of(id) : "-");
    } else if (a.compare(0, 5, "done ") == 0) {
      plan.Done(id_of(a.substr(5)));
    } else if (a == "front") {
      JobPlan::Id id = 0;
      JobPlan::Next next = plan.Front(&id);
      std::string seen = next == JobPlan::Next::kNone   ? "none"
                         : next == JobPlan::Next::kBusy ? "busy:" + name_of(id)
                                                        : name_of(id);
      EXPECT_EQ(step.expect, seen);
    } else if (a == "pop") {
      plan.Pop();
    } else if (a == "stop") {
      std::string dropped;
      for (JobPlan::Id id : plan.Stop()) dropped += name_of(id);
      EXPECT_EQ(step.expect, dropped);
    } else if (a == "archives") {
      EXPECT_EQ(step.expect, std::to_string(plan.archives()));
    }
  }
}

TEST(JobPlanTest, JobsFinishingOutOfOrderAreAppliedInScanOrder) {
  Play(2, 1,
       {{"+m", ""},
        {"+A", ""},
        {"+B", ""},
        {"+C", ""},
        {"+D", ""},
        {"front", "m"},
        {"pop", ""},
        {"take", "A"},
        {"take", "B"},
        {"take", "-"},
        {"done B", ""},
        {"take", "C"},
        {"front", "busy:A"},
        {"done C", ""},
        // Two parked and one running fill the plan: D waits.
        {"take", "-"},
        {"done A", ""},
        {"front", "A"},
        {"pop", ""},
        {"take", "D"},
        {"front", "B"},
        {"pop", ""},
        {"front", "C"},
        {"pop", ""},
        {"front", "busy:D"},
        {"done D", ""},
        {"front", "D"},
        {"pop", ""},
        {"front", "none"},
        {"archives", "0"}});
}

TEST(JobPlanTest, TheFirstArchiveMayAlwaysStart) {
  // Nothing may park and the disk is full: still the first item starts,
  // since nothing else could ever free its place.
  Play(1, 0,
       {{"+A", ""},
        {"+B", ""},
        {"take-noroom", "A"},
        {"done A", ""},
        {"take", "-"},
        {"pop", ""},
        {"take-noroom", "B"},
        {"take", "-"}});
}

TEST(JobPlanTest, AStopDropsWhatNoJobTookAndKeepsTheRestToUndo) {
  Play(2, 4,
       {{"+A", ""},
        {"+B", ""},
        {"+m", ""},
        {"+C", ""},
        {"+D", ""},
        {"take", "A"},
        {"take", "B"},
        {"done B", ""},
        {"stop", "CD"},
        {"take", "-"},
        {"archives", "2"},
        {"front", "busy:A"},
        {"done A", ""},
        {"front", "A"},
        {"pop", ""},
        {"front", "B"},
        {"pop", ""},
        {"front", "none"},
        {"archives", "0"}});
}

}  // namespace
}  // namespace zavo
