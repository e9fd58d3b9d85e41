#include "run/run_progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "text/printable.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// The status line stays within a console of 80 columns, so that it never
// wraps: a wrapped line could not be erased by going back to its start.
constexpr std::size_t kStatusWidth = 79;

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

RunProgress::RunProgress(std::ostream& err, bool live, Clock clock)
    : err_(err), live_(live), clock_(std::move(clock)), start_(clock_()) {}

void RunProgress::SetTotal(int archives, std::int64_t bytes) {
  total_ = archives;
  total_bytes_ = bytes;
}

void RunProgress::Begin(const std::string& path, std::int64_t size) {
  current_ = path;
  current_size_ = std::max<std::int64_t>(size, 0);
  Refresh();
}

void RunProgress::Converted(std::int64_t size_before, std::int64_t size_after) {
  ++converted_;
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
  const int done = converted_ + failed_ + left_;
  // Files can come and go after the count; the total never shows less than
  // what is done.
  const int total = std::max(total_, done + (current_.empty() ? 0 : 1));
  const std::int64_t total_bytes = std::max(total_bytes_, bytes_done_);
  const double elapsed = clock_() - start_;
  std::string line = IntToText(done) + "/" + IntToText(total) + " archives, " +
                     HumanBytes(bytes_done_) + " of " +
                     HumanBytes(total_bytes) + ", " + HumanTime(elapsed);
  // The rest is estimated from the bytes done so far, or from the archives
  // while every one done was empty.
  double left = -1;
  if (bytes_done_ > 0) {
    left = elapsed * static_cast<double>(total_bytes - bytes_done_) /
           static_cast<double>(bytes_done_);
  } else if (done > 0) {
    left = elapsed * (total - done) / done;
  }
  if (left >= 0) line += ", about " + HumanTime(left) + " left";
  if (!current_.empty()) {
    line += ": ";
    // Escaped as every printed name is: a name could hold a sequence that
    // sets the terminal's title or clears its screen.
    std::string name = PrintableName(PathFileName(current_));
    if (line.size() + name.size() > kStatusWidth) {
      // The end of a name tells more than its beginning.
      std::size_t room =
          kStatusWidth > line.size() + 3 ? kStatusWidth - line.size() - 3 : 0;
      name = "..." + name.substr(name.size() - std::min(room, name.size()));
    }
    line += name;
  }
  return line.substr(0, kStatusWidth);
}

void RunProgress::Refresh() {
  if (!live_) return;
  std::string line = StatusLine();
  // Blanks over what is left of a longer line before; no terminal control
  // sequences, which not every console understands.
  std::string text = "\r" + line;
  if (drawn_ > line.size()) text += std::string(drawn_ - line.size(), ' ');
  err_ << text;
  err_.flush();
  drawn_ = line.size();
}

void RunProgress::Hide() {
  if (!live_ || drawn_ == 0) return;
  err_ << '\r' << std::string(drawn_, ' ') << '\r';
  err_.flush();
  drawn_ = 0;
}

std::string RunProgress::Summary() const {
  char seconds[32];
  std::snprintf(seconds, sizeof(seconds), "%.1f s", clock_() - start_);
  return "summary: " + IntToText(converted_) + " converted, " +
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

ProcessResult ProgressRunner::Run(const ChildSpec& spec) {
  ProcessResult result = inner_->Run(spec);
  progress_->Refresh();
  return result;
}

}  // namespace zavo
