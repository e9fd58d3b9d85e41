// Where the driver's parts write their lines. A part is handed a sink and
// never writes to a stream of its own, so a caller decides where a part's
// lines go: straight to the console, or collected while it runs.

#ifndef ZAVO_DRIVER_OUTPUT_SINK_H_
#define ZAVO_DRIVER_OUTPUT_SINK_H_

#include <iostream>
#include <ostream>
#include <string>

#include "text/printable.h"

namespace zavo {

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Writes one line; the sink adds the line end.
  virtual void Line(const std::string& text) = 0;
};

// Writes each line to a stream and flushes it at once, so that an
// archiver's own output, written to the same console, comes after it. The
// stream is not owned. A line's control characters, which only names can
// bring in, are written as escapes: a name cannot end a line early and
// forge the next one, nor send the terminal a command.
class StreamSink : public OutputSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  void Line(const std::string& text) override {
    out_ << PrintableName(text) << '\n';
    out_.flush();
  }

 private:
  std::ostream& out_;
};

// Writes one line of the run's own to standard error, with the escapes
// StreamSink writes: the notes there name paths too.
inline void ErrorLine(const std::string& text) {
  std::cerr << PrintableName(text) << std::endl;
}

}  // namespace zavo

#endif  // ZAVO_DRIVER_OUTPUT_SINK_H_
