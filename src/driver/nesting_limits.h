// The limits on nested runs. A run started on an archive's work folder
// learns its depth from the run above it, and the archives converted by all
// the nested runs below one archive of the top run are counted together, in
// a count every process of them shares. This part reads what the run above
// handed on, says whether an archive may be converted at this depth and
// count, and hands each conversion what its own nested run needs.

#ifndef ZAVO_DRIVER_NESTING_LIMITS_H_
#define ZAVO_DRIVER_NESTING_LIMITS_H_

#include <memory>
#include <string>

#include "driver/archive_conversion.h"
#include "driver/output_sink.h"
#include "driver/run_options.h"
#include "platform/process.h"

namespace zavo {

// The depth in `text` (as the run above hands it on): 0 for empty text and
// for anything but a number of up to five digits.
int NestingDepthFromText(const std::string& text);

class NestingLimits {
 public:
  // `options` is not owned and must outlive this object; its nesting_depth
  // is this run's depth.
  explicit NestingLimits(const RunOptions& options) : options_(options) {}

  // The depth this process runs at, as the run that started it handed it
  // on; 0 for a run a person started.
  static int DepthFromEnvironment();

  // Takes up the count for this run's depth: a nested run joins the count
  // handed on to it, or counts on its own when there is none to join.
  void Start();

  // The line that says why the archive at `path` is left as it is at this
  // depth or count; empty when it may be converted. A nested run counts the
  // archive here. May be called from several threads at once.
  std::string LimitLine(const std::string& path) const;

  // Whether the archive at `path` is left as it is (LimitLine): if so,
  // says why in `sink` and makes *result say so. May be called from several
  // threads at once.
  bool LeavesAsItIs(const std::string& path, OutputSink* sink,
                    ConversionResult* result) const;

  // Gives `conversion` what its nested run needs: its depth and the count.
  // A count made for it (by the top run) goes to *own_count, which must
  // outlive the conversion. Nothing without nested conversions.
  void PrepareNestedRun(ArchiveConversion* conversion,
                        std::unique_ptr<SharedCount>* own_count) const;

 private:
  const RunOptions& options_;
  // The count of the nested runs below one archive of the top run; null in
  // the top run, which makes one for each archive.
  std::unique_ptr<SharedCount> count_;
};

}  // namespace zavo

#endif  // ZAVO_DRIVER_NESTING_LIMITS_H_
