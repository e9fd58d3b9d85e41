#include "run/nested_tally.h"

#include <algorithm>

namespace zavo {

std::unique_ptr<NestedTally> NestedTally::Create() {
  std::unique_ptr<NestedTally> tally(new NestedTally);
  tally->converted_ = SharedCount::Create();
  tally->failed_ = SharedCount::Create();
  tally->left_ = SharedCount::Create();
  if (!tally->converted_ || !tally->failed_ || !tally->left_) return nullptr;
  return tally;
}

std::unique_ptr<NestedTally> NestedTally::Open(const std::string& text) {
  std::size_t first = text.find(',');
  std::size_t second =
      first == std::string::npos ? first : text.find(',', first + 1);
  if (second == std::string::npos) return nullptr;
  std::unique_ptr<NestedTally> tally(new NestedTally);
  tally->converted_ = SharedCount::Open(text.substr(0, first));
  tally->failed_ =
      SharedCount::Open(text.substr(first + 1, second - first - 1));
  tally->left_ = SharedCount::Open(text.substr(second + 1));
  if (!tally->converted_ || !tally->failed_ || !tally->left_) return nullptr;
  return tally;
}

void NestedTally::Count(ArchiveStatus status) {
  switch (status) {
    case ArchiveStatus::kConverted:
    case ArchiveStatus::kKept:
      converted_->Add();
      break;
    case ArchiveStatus::kFailed:
      failed_->Add();
      break;
    case ArchiveStatus::kLeft:
      left_->Add();
      break;
  }
}

NestedCounts NestedTally::Counts() const {
  NestedCounts counts;
  counts.converted = std::max(converted_->Value(), 0L);
  counts.failed = std::max(failed_->Value(), 0L);
  counts.left = std::max(left_->Value(), 0L);
  return counts;
}

void NestedTally::HandOn(ChildSpec* launch) const {
  launch->environment.push_back(std::string(kVariable) + "=" +
                                converted_->Name() + "," + failed_->Name() +
                                "," + left_->Name());
  for (const SharedCount* count :
       {converted_.get(), failed_.get(), left_.get()}) {
    launch->inherit.push_back(count->handle());
  }
}

std::string NestedSummary(const NestedCounts& counts) {
  return "nested archives: " + std::to_string(counts.converted) +
         " converted, " + std::to_string(counts.failed) + " failed, " +
         std::to_string(counts.left) + " left alone";
}

}  // namespace zavo
