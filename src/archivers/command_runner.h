// The seam through which the converter runs external commands, so that its
// decisions can be tested with a recorder instead of real processes.

#ifndef ZAVO_ARCHIVERS_COMMAND_RUNNER_H_
#define ZAVO_ARCHIVERS_COMMAND_RUNNER_H_

#include <string>
#include <vector>

namespace zavo {

class SharedCount;

// What a command's macros stand for, as they are. Every command zavo runs
// through the interpreter has them in its environment as ZAVO_ARCNAME,
// ZAVO_FILENAME and ZAVO_FOLDER, empty for a macro the command does not
// have, so that a template can hand a name to a second parser
// (sh -c '... "$ZAVO_FOLDER"') where no quoting would hold.
struct CommandNames {
  std::string arc_name;
  std::string file_name;
  std::string folder;
};

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;

  // RunCommand with `names` in the child's environment. This default runs
  // RunCommand and leaves the names out, which suits recorders in tests.
  virtual unsigned char RunNamedCommand(const std::string& command,
                                        const std::string& folder,
                                        const CommandNames& names) {
    (void)names;
    return RunCommand(command, folder);
  }

  // Runs `command` (the text that follows " /C ") through the command
  // interpreter in `folder` (the current folder when empty) and waits.
  // Returns the 8-bit result: the low 8 bits of the exit code; a child that
  // was killed or could not start never gives 0.
  virtual unsigned char RunCommand(const std::string& command,
                                   const std::string& folder) = 0;

  // Runs a program with an argument vector, no interpreter in between.
  virtual unsigned char RunProgram(const std::vector<std::string>& argv,
                                   const std::string& folder) = 0;

  // Runs a nested run of the converter as RunProgram does, with the
  // "NAME=value" texts of `environment` added to its environment and
  // `count` (may be null) handed on to it. The default passes neither on,
  // for recorders that only look at the command line.
  virtual unsigned char RunNested(const std::vector<std::string>& argv,
                                  const std::string& folder,
                                  const std::vector<std::string>& environment,
                                  const SharedCount* count) {
    (void)environment;
    (void)count;
    return RunProgram(argv, folder);
  }
};

// Runs commands for real through the platform's process service.
class SystemCommandRunner : public CommandRunner {
 public:
  unsigned char RunNamedCommand(const std::string& command,
                                const std::string& folder,
                                const CommandNames& names) override;
  // With empty names.
  unsigned char RunCommand(const std::string& command,
                           const std::string& folder) override;
  unsigned char RunProgram(const std::vector<std::string>& argv,
                           const std::string& folder) override;
  unsigned char RunNested(const std::vector<std::string>& argv,
                          const std::string& folder,
                          const std::vector<std::string>& environment,
                          const SharedCount* count) override;
};

// The longest command text the platform's interpreter accepts. A template
// whose expansion would be longer is not run.
std::size_t MaxCommandLength();

}  // namespace zavo

#endif  // ZAVO_ARCHIVERS_COMMAND_RUNNER_H_
