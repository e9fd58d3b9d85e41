#include "run/run_progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "text/printable.h"
#include "text/terminal_text.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// Without a width from the terminal, a console's usual one.
constexpr int kDefaultColumns = 80;
// Before the status line drops its estimate or its bytes, the archive's
// name gets this much of it.
constexpr std::size_t kNameColumns = 16;

}  // namespace

std::string HumanBytes(std::int64_t bytes) {
  if (bytes < 0) bytes = 0;
  if (bytes < 1024) return std::to_string(bytes) + " B";
  const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string HumanTime(double seconds) {
  long total = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof(text), "%ld:%02ld:%02ld", total / 3600,
                  total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof(text), "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

double RunProgress::SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

RunProgress::RunProgress(std::ostream& err, bool live, Clock clock,
                         Columns columns)
    : err_(err),
      live_(live),
      clock_(std::move(clock)),
      columns_(std::move(columns)),
      start_(clock_()) {}

void RunProgress::SetTotal(int archives, std::int64_t bytes) {
  total_ = archives;
  total_bytes_ = bytes;
}

void RunProgress::Begin(const std::string& path, std::int64_t size) {
  current_ = path;
  current_size_ = std::max<std::int64_t>(size, 0);
  Refresh();
}

void RunProgress::Converted(std::int64_t size_before, std::int64_t size_after,
                            bool kept) {
  ++(kept ? kept_ : converted_);
  bytes_before_ += std::max<std::int64_t>(size_before, 0);
  bytes_after_ += std::max<std::int64_t>(size_after, 0);
  bytes_done_ += current_size_;
  current_.clear();
  Refresh();
}

void RunProgress::Failed() {
  ++failed_;
  bytes_done_ += current_size_;
  current_.clear();
  Refresh();
}

void RunProgress::Left() {
  ++left_;
  bytes_done_ += current_size_;
  current_.clear();
  Refresh();
}

std::string RunProgress::StatusLine() const {
  const int done = converted_ + kept_ + failed_ + left_;
  // Files can come and go after the count; the total never shows less than
  // what is done.
  const int total = std::max(total_, done + (current_.empty() ? 0 : 1));
  const std::int64_t total_bytes = std::max(total_bytes_, bytes_done_);
  const double elapsed = clock_() - start_;
  const std::string counts =
      IntToText(done) + "/" + IntToText(total) + " archives";
  const std::string bytes =
      HumanBytes(bytes_done_) + " of " + HumanBytes(total_bytes);
  const std::string taken = HumanTime(elapsed);
  // The rest is estimated from the bytes done so far, or from the archives
  // while every one done was empty.
  double left = -1;
  if (bytes_done_ > 0) {
    left = elapsed * static_cast<double>(total_bytes - bytes_done_) /
           static_cast<double>(bytes_done_);
  } else if (done > 0) {
    left = elapsed * (total - done) / done;
  }
  const std::string estimate =
      left >= 0 ? ", about " + HumanTime(left) + " left" : std::string();
  const std::size_t width = Width();
  const std::size_t name_columns =
      current_.empty()
          ? 0
          : 2 + std::min(
                    kNameColumns,
                    TerminalColumns(PrintableName(PathFileName(current_))));
  const std::string choices[] = {
      counts + ", " + bytes + ", " + taken + estimate,
      counts + ", " + bytes + ", " + taken, counts + ", " + taken};
  std::string line = choices[2];
  for (const std::string& choice : choices) {
    if (choice.size() + name_columns <= width) {
      line = choice;
      break;
    }
  }
  // The figures are plain ASCII: cut anywhere.
  if (line.size() > width) line.resize(width);
  if (!current_.empty() && line.size() + 2 < width) {
    // Escaped as every printed name is: a name could hold a sequence that
    // sets the terminal's title or clears its screen.
    const std::string name =
        FitName(PathFileName(current_), width - line.size() - 2);
    if (!name.empty()) line += ": " + name;
  }
  return line;
}

std::size_t RunProgress::Width() const {
  int columns = columns_ ? columns_() : 0;
  if (columns <= 0) columns = kDefaultColumns;
  // One column stays free: some terminals wrap as soon as the last one is
  // written.
  return static_cast<std::size_t>(std::max(columns, 2) - 1);
}

void RunProgress::Refresh() {
  if (!live_) return;
  std::string line = StatusLine();
  // Blanks over what is left of a longer line before, up to the width of
  // a terminal that may have shrunk since; no terminal control sequences,
  // which not every console understands.
  const std::size_t columns = TerminalColumns(line);
  const std::size_t blank_to = std::min(drawn_, Width());
  std::string text = "\r" + line;
  if (blank_to > columns) text += std::string(blank_to - columns, ' ');
  err_ << text;
  err_.flush();
  drawn_ = columns;
}

void RunProgress::Hide() {
  if (!live_ || drawn_ == 0) return;
  err_ << '\r' << std::string(std::min(drawn_, Width()), ' ') << '\r';
  err_.flush();
  drawn_ = 0;
}

std::string RunProgress::Summary() const {
  char seconds[32];
  std::snprintf(seconds, sizeof(seconds), "%.1f s", clock_() - start_);
  // Kept archives are named only where there are some: a run without
  // --keep sums up as it always did.
  return "summary: " + IntToText(converted_) + " converted, " +
         (kept_ > 0 ? IntToText(kept_) + " kept, " : std::string()) +
         IntToText(failed_) + " failed, " + IntToText(left_) + " left alone; " +
         std::to_string(bytes_before_) + " bytes before, " +
         std::to_string(bytes_after_) + " after; " + seconds;
}

void ProgressSink::Line(const std::string& text) {
  progress_->Hide();
  inner_->Line(text);
  progress_->Refresh();
}

void ProgressSink::Note(const std::string& text) {
  progress_->Hide();
  inner_->Note(text);
  progress_->Refresh();
}

ProcessResult ProgressRunner::Run(const ChildSpec& launch) {
  ProcessResult result = inner_->Run(launch);
  progress_->Refresh();
  return result;
}

}  // namespace zavo
