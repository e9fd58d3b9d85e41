// The seam through which the converter runs external commands, so that its
// decisions can be tested with a recorder instead of real processes.

#ifndef ZAVO_ARCHIVERS_COMMAND_RUNNER_H_
#define ZAVO_ARCHIVERS_COMMAND_RUNNER_H_

#include <cstddef>

#include "platform/process.h"

namespace zavo {

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;

  // Runs the child `launch` describes and waits for it: how it ended, whole.
  // May be called from several threads at once.
  virtual ProcessResult Run(const ChildSpec& launch) = 0;
};

// Runs commands for real through the platform's process service.
class SystemCommandRunner : public CommandRunner {
 public:
  ProcessResult Run(const ChildSpec& launch) override {
    return RunChild(launch);
  }
};

// The longest command text the platform's interpreter accepts. A template
// whose expansion would be longer is not run.
std::size_t MaxCommandLength();

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_COMMAND_RUNNER_H_
