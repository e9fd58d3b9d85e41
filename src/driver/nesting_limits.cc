#include "driver/nesting_limits.h"

#include <utility>
#include <vector>

#include "text/text_utils.h"

namespace zavo {

namespace {

// How a nested run learns its depth and finds the count of nested
// conversions; set for the nested runs a conversion starts.
constexpr char kDepthVariable[] = "ZAVO_NESTING_DEPTH";
constexpr char kCountVariable[] = "ZAVO_NESTED_COUNT";

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

void NestingLimits::Start() {
  count_.reset();
  if (options_.nesting_depth > 0) {
    count_ = SharedCount::Open(GetEnvironment(kCountVariable));
    // Without the top run's count, this run still counts its own.
    if (count_ == nullptr) count_ = SharedCount::Create();
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

void NestingLimits::PrepareNestedRun(
    ArchiveConversion* conversion,
    std::unique_ptr<SharedCount>* own_count) const {
  if (!options_.nested) return;
  // Each archive of the top run starts its own count of nested conversions;
  // nested runs hand the one they were given on.
  const SharedCount* count = count_.get();
  if (options_.nesting_depth == 0) {
    *own_count = SharedCount::Create();
    count = own_count->get();
  }
  std::vector<std::string> environment = {
      std::string(kDepthVariable) + "=" +
      std::to_string(options_.nesting_depth + 1)};
  if (count != nullptr) {
    environment.push_back(std::string(kCountVariable) + "=" + count->Name());
  }
  conversion->set_nested_run(std::move(environment), count);
}

}  // namespace zavo
