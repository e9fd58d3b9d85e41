// The limits on nested runs, and the nested run itself. A run started on an
// archive's work folder learns its depth from the run above it, and the
// archives converted by all the nested runs below one archive of the top
// run are counted together, in a count every process of them shares. This
// part reads what the run above handed on, says whether an archive may be
// converted at this depth and count, and starts each conversion's nested
// run with what it needs.

#ifndef ZAVO_RUN_NESTING_LIMITS_H_
#define ZAVO_RUN_NESTING_LIMITS_H_

#include <memory>
#include <string>

#include "archivers/command_runner.h"
#include "conversion/archive_conversion.h"
#include "conversion/output_sink.h"
#include "platform/process.h"
#include "run/nested_tally.h"
#include "run/report.h"
#include "run/run_options.h"

namespace zavo {

// The depth in `text` (as the run above hands it on): 0 for empty text and
// for anything but a number of up to five digits.
int NestingDepthFromText(const std::string& text);

// The nested run of one archive's conversion: zavo again, on the folder
// the archive was unpacked into, handed on open (--mask-folder), with the
// run's switches and its report (--report-handle), one level deeper, in
// the folder the run was started in.
class NestedRun : public NestedRunner {
 public:
  // None of the pointers is owned; `count` and `report` may be null.
  NestedRun(const RunOptions& options, CommandRunner* runner,
            const SharedCount* count, ReportWriter* report,
            const NestedTally* tally = nullptr)
      : options_(options),
        runner_(runner),
        count_(count),
        report_(report),
        tally_(tally) {}
  NestedOutcome Run(const HeldFolder& unpacked, const std::string& shown,
                    const std::string& archive, ChildSpec launch) override;

 private:
  friend class NestingLimits;
  const RunOptions& options_;
  CommandRunner* runner_;
  const SharedCount* count_;
  ReportWriter* report_;
  const NestedTally* tally_;
  // The count a top run makes for each of its archives.
  std::unique_ptr<SharedCount> own_count_;
};

class NestingLimits {
 public:
  // `options` is not owned and must outlive this object; its nesting_depth
  // is this run's depth.
  explicit NestingLimits(const RunOptions& options) : options_(options) {}

  // The depth this process runs at, as the run that started it handed it
  // on; 0 for a run a person started.
  static int DepthFromEnvironment();

  // What a nested run's parent handed on besides its depth: whether it is
  // quiet (-q), and whether it shows the archivers' output grouped under
  // their archives (RunOptions::group_messages). False in a top run.
  static bool InheritedQuiet();
  static bool InheritedGrouping();

  // Takes up the count for this run's depth: a nested run joins the count
  // handed on to it, or counts on its own when there is none to join. The
  // same for the tally of nested archives, which a top run that converts
  // nested archives makes.
  void Start();

  // The tally of the nested runs' archives: the top run reads it, nested
  // runs count into it. Null when there is none.
  NestedTally* tally() const { return tally_.get(); }

  // The line that says why the archive at `path` is left as it is at this
  // depth or count; empty when it may be converted. A nested run counts the
  // archive here. May be called from several threads at once.
  std::string LimitLine(const std::string& path) const;

  // Whether the archive at `path` is left as it is (LimitLine): if so,
  // says why in `sink` and makes *result say so. May be called from several
  // threads at once.
  bool LeavesAsItIs(const std::string& path, OutputSink* sink,
                    ConversionResult* result) const;

  // The nested run for one archive's conversion, or null when the run
  // converts no nested archives. May be called from several threads.
  std::unique_ptr<NestedRun> MakeNestedRun(CommandRunner* runner,
                                           ReportWriter* report) const;

 private:
  const RunOptions& options_;
  // The count of the nested runs below one archive of the top run; null in
  // the top run, which makes one for each archive.
  std::unique_ptr<SharedCount> count_;
  std::unique_ptr<NestedTally> tally_;
};

}  // namespace zavo

#endif  // ZAVO_RUN_NESTING_LIMITS_H_
