// The archivers' own output, tied to the archive and step it came from. An
// archive's children write into its two capture files (standard output and
// standard error) one after the other, between the conversion's own lines;
// SegmentRunner notes where each child's output begins and ends, and
// ShowArchiverMessages shows each child's part under a line that names the
// archive and the step:
//
//   [/data/arc/secret.zip] zip extract:
//       secret.txt: Incorrect passphrase

#ifndef ZAVO_RUN_ARCHIVER_MESSAGES_H_
#define ZAVO_RUN_ARCHIVER_MESSAGES_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "archivers/command_runner.h"
#include "platform/capture_file.h"

namespace zavo {

// The label of a nested run's child: its output is zavo's own lines, shown
// as they are.
constexpr char kNestedRunLabel[] = "nested run";

// Where one child's output lies in the capture files: [begin, end).
struct OutputSegment {
  std::string label;
  std::int64_t output_begin = 0;
  std::int64_t output_end = 0;
  std::int64_t errors_begin = 0;
  std::int64_t errors_end = 0;
};

// Runs commands through `inner` (not owned) and notes the segment of each
// child's output in `output` and `errors` (not owned). For one archive's
// conversion: its children run one after the other, never at once.
class SegmentRunner : public CommandRunner {
 public:
  SegmentRunner(CommandRunner* inner, CaptureFile* output, CaptureFile* errors)
      : inner_(inner), output_(output), errors_(errors) {}
  ProcessResult Run(const ChildSpec& launch) override;

  const std::vector<OutputSegment>& segments() const { return segments_; }
  // Whether a capture's size could not be told: the segments are then not
  // to be trusted.
  bool broken() const { return broken_; }

 private:
  CommandRunner* inner_;
  CaptureFile* output_;
  CaptureFile* errors_;
  std::vector<OutputSegment> segments_;
  bool broken_ = false;
};

// Writes what was collected for the archive at `path`, escaped, in the
// order it was written: the conversion's own lines and a nested run's
// output as they are, to `out` and `err`; each archiver's output (both of
// its streams) to `err` under "[path] label:", every line indented by four
// blanks, when `show_archivers`, else nothing of it. Returns false when a
// capture could not be read whole.
bool ShowArchiverMessages(const std::string& path, CaptureFile* output,
                          CaptureFile* errors,
                          const std::vector<OutputSegment>& segments,
                          bool show_archivers, std::ostream& out,
                          std::ostream& err);

}  // namespace zavo

#endif  // ZAVO_RUN_ARCHIVER_MESSAGES_H_
