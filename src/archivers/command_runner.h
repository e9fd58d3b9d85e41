// The seam through which the converter runs external commands, so that its
// decisions can be tested with a recorder instead of real processes.

#ifndef ZAVO_ARCHIVERS_COMMAND_RUNNER_H_
#define ZAVO_ARCHIVERS_COMMAND_RUNNER_H_

#include <string>
#include <vector>

namespace zavo {

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;

  // Runs `command` (the text that follows " /C ") through the command
  // interpreter in `folder` (the current folder when empty) and waits.
  // Returns the 8-bit result: the low 8 bits of the exit code; a child that
  // was killed or could not start never gives 0.
  virtual unsigned char RunCommand(const std::string& command,
                                   const std::string& folder) = 0;

  // Runs a program with an argument vector, no interpreter in between.
  virtual unsigned char RunProgram(const std::vector<std::string>& argv,
                                   const std::string& folder) = 0;
};

// Runs commands for real through the platform's process service.
class SystemCommandRunner : public CommandRunner {
 public:
  unsigned char RunCommand(const std::string& command,
                           const std::string& folder) override;
  unsigned char RunProgram(const std::vector<std::string>& argv,
                           const std::string& folder) override;
};

// The longest command text the platform's interpreter accepts. A template
// whose expansion would be longer is not run.
std::size_t MaxCommandLength();

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_COMMAND_RUNNER_H_
