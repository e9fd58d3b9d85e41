#include "archivers/command_runner.h"

#include "platform/os.h"
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

std::size_t MaxCommandLength() { return kMaxCommandLength; }

}  // namespace zavo
