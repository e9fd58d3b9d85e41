#include "run/nesting_limits.h"

#include <utility>
#include <vector>

#include "platform/os.h"
#include "run/archiver_messages.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// How a nested run learns its depth and finds the count of nested
// conversions; set for the nested runs a conversion starts.
constexpr char kDepthVariable[] = "ZAVO_NESTING_DEPTH";
constexpr char kCountVariable[] = "ZAVO_NESTED_COUNT";
// Set to 1 for a nested run whose parent is quiet, or shows the archivers'
// output grouped.
constexpr char kQuietVariable[] = "ZAVO_QUIET";
constexpr char kGroupingVariable[] = "ZAVO_GROUP_MESSAGES";

}  // namespace

int NestingDepthFromText(const std::string& text) {
  return !text.empty() && text.size() < 6 &&
                 text.find_first_not_of("0123456789") == std::string::npos
             ? static_cast<int>(TextToInt(text))
             : 0;
}

int NestingLimits::DepthFromEnvironment() {
  return NestingDepthFromText(GetEnvironment(kDepthVariable));
}

bool NestingLimits::InheritedQuiet() {
  return DepthFromEnvironment() > 0 && GetEnvironment(kQuietVariable) == "1";
}

bool NestingLimits::InheritedGrouping() {
  return DepthFromEnvironment() > 0 && GetEnvironment(kGroupingVariable) == "1";
}

void NestingLimits::Start() {
  count_.reset();
  tally_.reset();
  if (options_.nesting_depth > 0) {
    count_ = SharedCount::Open(GetEnvironment(kCountVariable));
    // Without the top run's count, this run still counts its own.
    if (count_ == nullptr) count_ = SharedCount::Create();
    tally_ = NestedTally::Open(GetEnvironment(NestedTally::kVariable));
  } else if (options_.conversion.nested) {
    tally_ = NestedTally::Create();
  }
}

std::string NestingLimits::LimitLine(const std::string& path) const {
  if (options_.nesting_depth == 0) return std::string();
  std::string name = PathFileName(path);
  if (options_.nesting_depth > options_.max_nesting) {
    return "[" + name + "] nested too deep, left as it is!";
  }
  long count = count_ != nullptr ? count_->Add() : -1;
  if (count < 0 || count > options_.max_nested_archives) {
    return "[" + name + "] too many nested archives, left as it is!";
  }
  return std::string();
}

bool NestingLimits::LeavesAsItIs(const std::string& path, OutputSink* sink,
                                 ConversionResult* result) const {
  std::string line = LimitLine(path);
  if (line.empty()) return false;
  sink->Line(line);
  result->status = ConversionStatus::kOverLimits;
  result->line = line;
  return true;
}

std::unique_ptr<NestedRun> NestingLimits::MakeNestedRun(
    CommandRunner* runner, ReportWriter* report) const {
  if (!options_.conversion.nested) return nullptr;
  std::unique_ptr<NestedRun> run(
      new NestedRun(options_, runner, count_.get(), report, tally_.get()));
  // Each archive of the top run starts its own count of nested conversions;
  // nested runs hand the one they were given on.
  if (options_.nesting_depth == 0) {
    run->own_count_ = SharedCount::Create();
    run->count_ = run->own_count_.get();
  }
  return run;
}

NestedOutcome NestedRun::Run(const HeldFolder& unpacked,
                             const std::string& shown,
                             const std::string& archive, ChildSpec launch) {
  std::vector<std::string> argv = options_.nested_command;
  std::int64_t mark = -1;
  if (report_ != nullptr) {
    // The nested run's lines name this archive, and its totals line tells
    // this record how it went.
    argv.push_back("--report-parent");
    argv.push_back(archive);
    if (report_->handle() >= 0) {
      argv.push_back("--report-handle");
      argv.push_back(std::to_string(report_->handle()));
      launch.inherit.push_back(report_->handle());
    }
    mark = report_->Mark();
  }
  // The unpacked folder is handed on open: the nested run never looks its
  // path up, and starts where this run was started, so that its relative
  // masks mean what they mean here. Its mask names the work folder, for
  // the lines it prints.
  std::string mask = shown;
  if (unpacked.handle() >= 0) {
    argv.push_back("--mask-folder");
    argv.push_back(std::to_string(unpacked.handle()));
    launch.inherit.push_back(unpacked.handle());
  } else {
    mask = unpacked.path();
  }
  argv.push_back(mask + "*.*");
  launch.argv = std::move(argv);
  launch.environment.push_back(std::string(kDepthVariable) + "=" +
                               std::to_string(options_.nesting_depth + 1));
  if (count_ != nullptr) {
    launch.environment.push_back(std::string(kCountVariable) + "=" +
                                 count_->Name());
    launch.inherit.push_back(count_->handle());
  }
  if (tally_ != nullptr) tally_->HandOn(&launch);
  // Set either way, so that what the environment zavo was started in says
  // never reaches a nested run in place of this run's own.
  launch.environment.push_back(std::string(kQuietVariable) + "=" +
                               (options_.quiet ? "1" : "0"));
  launch.environment.push_back(std::string(kGroupingVariable) + "=" +
                               (options_.group_messages ? "1" : "0"));
  // Its output is the nested run's own lines, shown as they are.
  launch.label = kNestedRunLabel;
  NestedOutcome outcome;
  outcome.process = runner_->Run(launch);
  if (report_ != nullptr) {
    report_->FindNestedTotals(mark, archive, &outcome.archives, &outcome.failed,
                              &outcome.converted);
  }
  return outcome;
}

}  // namespace zavo
