// The entry point: start up, run, and turn the outcome into an exit code.

#include <iostream>
#include <string>
#include <vector>

#include "archivers/command_runner.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "run/converter.h"
#include "run/report_summary.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  args.push_back(zavo::ProgramPath(argc > 0 ? argv[0] : nullptr));
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  // Summing up reports changes nothing: an interruption ends it at once.
  if (zavo::AsksForReportSummary(args)) {
    return zavo::RunReportSummary(args, std::cout, std::cerr);
  }
  zavo::IgnoreFileSizeLimitSignal();
  // Jobs and deep trees hold many folders open.
  zavo::RaiseDescriptorLimit();
  // An interruption stops the running archiver and then the run, which
  // cleans up after itself before ending as interrupted.
  zavo::CatchInterruptions();

  zavo::SystemCommandRunner runner;
  zavo::Converter converter(args, &runner, std::cout, std::cerr);
  converter.set_terminal(zavo::StandardErrorIsTerminal());
  // The status line follows the terminal's width as it changes.
  zavo::WatchTerminalWidth();
  converter.set_terminal_columns(zavo::StandardErrorColumns);
  int code = converter.Execute();
  std::cout.flush();
  if (converter.interrupted())
    zavo::EndAsInterrupted(zavo::InterruptionSignal());
  return code;
}
