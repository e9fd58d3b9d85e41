#include "archivers/command_runner.h"

#include "platform/process.h"

namespace zavo {

unsigned char SystemCommandRunner::RunCommand(const std::string& command,
                                              const std::string& folder) {
  return RunShellCommand(command, folder).Code();
}

unsigned char SystemCommandRunner::RunProgram(
    const std::vector<std::string>& argv, const std::string& folder) {
  return ::zavo::RunProgram(argv, folder).Code();
}

std::size_t MaxCommandLength() {
#ifdef _WIN32
  // cmd.exe refuses longer command lines.
  return 8191;
#else
  // The command is one argument of "sh -c"; Linux takes no single argument
  // longer than 32 pages, its terminating zero included.
  return 131072 - 1;
#endif
}

}  // namespace zavo
