// What the user sees of a run besides its report lines: a status line on
// standard error while it works, when that is a terminal, and a summary at
// the end. Standard output is never written here.

#ifndef ZAVO_RUN_RUN_PROGRESS_H_
#define ZAVO_RUN_RUN_PROGRESS_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "archivers/command_runner.h"
#include "conversion/output_sink.h"

namespace zavo {

class RunProgress {
 public:
  // Seconds from some fixed moment.
  using Clock = std::function<double()>;

  // `err` receives the status line (only when `live`) and the summary; it is
  // not owned. `clock` gives the time (tests hand in their own).
  RunProgress(std::ostream& err, bool live, Clock clock = SteadySeconds);

  bool live() const { return live_; }

  // The quick count made before the run: the archives it will convert and
  // their bytes.
  void SetTotal(int archives, std::int64_t bytes);
  // An archive's conversion starts; `size` is -1 when unknown.
  void Begin(const std::string& path, std::int64_t size);
  // How the archive begun last ended. Sizes of -1 count as 0.
  void Converted(std::int64_t size_before, std::int64_t size_after);
  void Failed();
  void Left();

  // Draws the status line with the time now (when live).
  void Refresh();
  // Erases the status line, so that other text can take its place; the
  // next Refresh draws it again.
  void Hide();

  // "converted 3, failed 1, left alone 2; 1,234,567 bytes before, 987,654
  // after; 12.3 s".
  std::string Summary() const;
  // The status line as drawn, without the means of drawing it: archives
  // done of the total, bytes done, time taken, time left, current archive.
  std::string StatusLine() const;

  static double SteadySeconds();

 private:
  std::ostream& err_;
  bool live_;
  Clock clock_;
  double start_;
  int total_ = 0;
  std::int64_t total_bytes_ = 0;
  int converted_ = 0;
  int failed_ = 0;
  int left_ = 0;
  std::int64_t bytes_done_ = 0;  // of the archives finished, before
  std::int64_t bytes_before_ = 0;
  std::int64_t bytes_after_ = 0;
  std::int64_t current_size_ = 0;
  std::string current_;
  std::size_t drawn_ = 0;  // characters of the status line on the screen
};

// Passes lines on, with the status line erased while each is written.
class ProgressSink : public OutputSink {
 public:
  ProgressSink(OutputSink* inner, RunProgress* progress)
      : inner_(inner), progress_(progress) {}
  void Line(const std::string& text) override;
  void Note(const std::string& text) override;

 private:
  OutputSink* inner_;
  RunProgress* progress_;
};

// Runs commands through `inner` and brings the status line up to date
// after each. For a run of one job, whose commands run on the thread that
// draws the status line; their output is collected, never drawn over.
class ProgressRunner : public CommandRunner {
 public:
  ProgressRunner(CommandRunner* inner, RunProgress* progress)
      : inner_(inner), progress_(progress) {}
  ProcessResult Run(const ChildSpec& spec) override;

 private:
  CommandRunner* inner_;
  RunProgress* progress_;
};

// A byte count as people read it: "512 B", "12.4 KB", "3.0 MB", "1.2 GB".
std::string HumanBytes(std::int64_t bytes);
// A time in seconds as "0:42", "12:03" or "1:02:03".
std::string HumanTime(double seconds);

}  // namespace zavo

#endif  // ZAVO_RUN_RUN_PROGRESS_H_
