#include "archivers/command_runner.h"

#include "platform/os.h"
#include "platform/process.h"

namespace zavo {

unsigned char SystemCommandRunner::RunNamedCommand(const std::string& command,
                                                   const std::string& folder,
                                                   const CommandNames& names) {
  return RunShellCommand(command, folder,
                         {"ZAVO_ARCNAME=" + names.arc_name,
                          "ZAVO_FILENAME=" + names.file_name,
                          "ZAVO_FOLDER=" + names.folder})
      .Code();
}

unsigned char SystemCommandRunner::RunCommand(const std::string& command,
                                              const std::string& folder) {
  return RunNamedCommand(command, folder, CommandNames());
}

unsigned char SystemCommandRunner::RunProgram(
    const std::vector<std::string>& argv, const std::string& folder) {
  return ::zavo::RunProgram(argv, folder).Code();
}

unsigned char SystemCommandRunner::RunNested(
    const std::vector<std::string>& argv, const std::string& folder,
    const std::vector<std::string>& environment, const SharedCount* count) {
  return ::zavo::RunProgram(argv, folder, environment, count).Code();
}

std::size_t MaxCommandLength() { return kMaxCommandLength; }

}  // namespace zavo
