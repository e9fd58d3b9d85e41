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
  // The terminal's width in columns; 0 when unknown, which stands for 80.
  using Columns = std::function<int()>;

  // `err` receives the status line (only when `live`) and the summary; it is
  // not owned. `clock` gives the time and `columns` the width the status
  // line must fit, asked before each drawing (tests hand in their own).
  RunProgress(std::ostream& err, bool live, Clock clock = SteadySeconds,
              Columns columns = nullptr);

  bool live() const { return live_; }

  // The quick count made before the run: the archives it will convert and
  // their bytes.
  void SetTotal(int archives, std::int64_t bytes);
  // An archive's conversion starts; `size` is -1 when unknown.
  void Begin(const std::string& path, std::int64_t size);
  // How the archive begun last ended. Sizes of -1 count as 0. `kept`: the
  // old archive stays beside the new one (--keep).
  void Converted(std::int64_t size_before, std::int64_t size_after,
                 bool kept = false);
  void Failed();
  void Left();

  // Draws the status line with the time now (when live).
  void Refresh();
  // Erases the status line, so that other text can take its place; the
  // next Refresh draws it again.
  void Hide();

  // "summary: 3 converted, 1 failed, 2 left alone; 1234567 bytes before,
  // 987654 after; 12.3 s"; "3 converted, 2 kept, ..." when some old
  // archives were kept.
  std::string Summary() const;
  // The status line as drawn, without the means of drawing it: archives
  // done of the total, bytes done, time taken, time left, current archive
  // (escaped, cut in the middle). It fits the terminal's width less one
  // column, dropping the estimate and then the bytes before the name gets
  // too short.
  std::string StatusLine() const;

  static double SteadySeconds();

 private:
  // The columns the status line may take.
  std::size_t Width() const;

  std::ostream& err_;
  bool live_;
  Clock clock_;
  Columns columns_;
  double start_;
  int total_ = 0;
  std::int64_t total_bytes_ = 0;
  int converted_ = 0;
  int kept_ = 0;
  int failed_ = 0;
  int left_ = 0;
  std::int64_t bytes_done_ = 0;  // of the archives finished, before
  std::int64_t bytes_before_ = 0;
  std::int64_t bytes_after_ = 0;
  std::int64_t current_size_ = 0;
  std::string current_;
  std::size_t drawn_ = 0;  // columns of the status line on the screen
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
  ProcessResult Run(const ChildSpec& launch) override;

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
