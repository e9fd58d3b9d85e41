// The archives converted, failed and left by the nested runs below one top
// run, at every depth and in every process: the top run's summary and the
// totals of its report show them beside its own. Each count is a
// SharedCount that the top run makes and hands on to its nested runs, as it
// hands on the count of nested conversions.

#ifndef ZAVO_RUN_NESTED_TALLY_H_
#define ZAVO_RUN_NESTED_TALLY_H_

#include <memory>
#include <string>

#include "conversion/report_record.h"
#include "platform/process.h"

namespace zavo {

struct NestedCounts {
  long converted = 0;
  long failed = 0;
  long left = 0;
};

class NestedTally {
 public:
  // The environment variable that hands the tally on.
  static constexpr const char* kVariable = "ZAVO_NESTED_TALLY";

  // A new tally at zero for a top run; null when the system cannot make
  // one (the nested archives then go uncounted).
  static std::unique_ptr<NestedTally> Create();
  // The tally that `text` (kVariable's value, as HandOn wrote it) names in
  // this process; null when it names none.
  static std::unique_ptr<NestedTally> Open(const std::string& text);

  // Counts one archive of a nested run: kept counts as converted.
  void Count(ArchiveStatus status);
  // What every nested run counted so far; a count that cannot be read is 0.
  NestedCounts Counts() const;
  // Hands the tally on to the nested run that `launch` starts.
  void HandOn(ChildSpec* launch) const;

 private:
  std::unique_ptr<SharedCount> converted_;
  std::unique_ptr<SharedCount> failed_;
  std::unique_ptr<SharedCount> left_;
};

// "nested archives: 3 converted, 1 failed, 2 left alone", as the summary
// shows them.
std::string NestedSummary(const NestedCounts& counts);

}  // namespace zavo

#endif  // ZAVO_RUN_NESTED_TALLY_H_
