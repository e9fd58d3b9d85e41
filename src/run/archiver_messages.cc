#include "run/archiver_messages.h"

#include "text/printable.h"

namespace zavo {

namespace {

constexpr char kIndent[] = "    ";

// Copies bytes [from, to) of `file` (to -1: the end) to `stream`, escaped
// line by line, with `indent` before every line.
bool CopyLines(CaptureFile* file, std::int64_t from, std::int64_t to,
               std::ostream& stream, const char* indent) {
  if (to >= 0 && to <= from) return true;
  PrintableLines lines;
  std::string text;
  bool line_start = true;
  auto write = [&]() {
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find('\n', at);
      end = end == std::string::npos ? text.size() : end + 1;
      if (line_start) stream << indent;
      stream.write(text.data() + at, static_cast<std::streamsize>(end - at));
      line_start = text[end - 1] == '\n';
      at = end;
    }
    text.clear();
  };
  bool whole = file->ForEachChunk(
      [&](const char* data, std::size_t size) {
        lines.Feed(data, size, &text);
        write();
      },
      from, to);
  lines.Finish(&text);
  write();
  return whole;
}

}  // namespace

ProcessResult SegmentRunner::Run(const ChildSpec& launch) {
  OutputSegment segment;
  // The conversion labels its archivers' commands; the only others it runs
  // unlabelled are the Scan commands.
  segment.label = !launch.label.empty()     ? launch.label
                  : !launch.command.empty() ? "scan"
                                            : "command";
  segment.output_begin = output_->Size();
  segment.errors_begin = errors_->Size();
  ProcessResult result = inner_->Run(launch);
  segment.output_end = output_->Size();
  segment.errors_end = errors_->Size();
  if (segment.output_begin < 0 || segment.errors_begin < 0 ||
      segment.output_end < segment.output_begin ||
      segment.errors_end < segment.errors_begin) {
    broken_ = true;
  }
  segments_.push_back(segment);
  return result;
}

bool ShowArchiverMessages(const std::string& path, CaptureFile* output,
                          CaptureFile* errors,
                          const std::vector<OutputSegment>& segments,
                          bool show_archivers, std::ostream& out,
                          std::ostream& err) {
  bool whole = true;
  std::int64_t output_at = 0;
  std::int64_t errors_at = 0;
  for (const OutputSegment& s : segments) {
    // What the conversion wrote before this child started.
    whole &= CopyLines(output, output_at, s.output_begin, out, "");
    whole &= CopyLines(errors, errors_at, s.errors_begin, err, "");
    if (s.label == kNestedRunLabel) {
      whole &= CopyLines(output, s.output_begin, s.output_end, out, "");
      whole &= CopyLines(errors, s.errors_begin, s.errors_end, err, "");
    } else if (show_archivers && (s.output_end > s.output_begin ||
                                  s.errors_end > s.errors_begin)) {
      err << "[" << PrintableName(path) << "] " << PrintableName(s.label)
          << ":\n";
      whole &= CopyLines(output, s.output_begin, s.output_end, err, kIndent);
      whole &= CopyLines(errors, s.errors_begin, s.errors_end, err, kIndent);
    }
    output_at = s.output_end;
    errors_at = s.errors_end;
  }
  whole &= CopyLines(output, output_at, -1, out, "");
  whole &= CopyLines(errors, errors_at, -1, err, "");
  out.flush();
  err.flush();
  return whole;
}

}  // namespace zavo
