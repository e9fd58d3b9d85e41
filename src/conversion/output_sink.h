// Where the parts of a run write their lines. A part is handed a sink and
// never writes to a stream of its own, so a caller decides where a part's
// lines go: straight to the console, or collected while it runs.

#ifndef ZAVO_CONVERSION_OUTPUT_SINK_H_
#define ZAVO_CONVERSION_OUTPUT_SINK_H_

#include <ostream>
#include <string>

#include "text/printable.h"

namespace zavo {

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Writes one line of standard output; the sink adds the line end.
  virtual void Line(const std::string& text) = 0;
  // Writes one line for standard error: what the run could not do or leave
  // as it should, beside the designed lines.
  virtual void Note(const std::string& text) = 0;
};

// Writes each line to a stream and flushes it at once. The streams are not
// owned. Every byte that is not printable, which only names can bring in,
// is written as an escape (PrintableName): a name cannot end a line early
// and forge the next one, nor send the terminal a command.
class StreamSink : public OutputSink {
 public:
  StreamSink(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  void Line(const std::string& text) override {
    out_ << PrintableName(text) << '\n';
    out_.flush();
  }
  void Note(const std::string& text) override {
    err_ << PrintableName(text) << '\n';
    err_.flush();
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace zavo

#endif  // ZAVO_CONVERSION_OUTPUT_SINK_H_
