// The parts of the process service that are the same on every platform.

#include "platform/process.h"

namespace zavo {

unsigned char ProcessResult::Code() const {
  switch (outcome) {
    case Outcome::kExited:
      return static_cast<unsigned char>(exit_code & 0xFF);
    case Outcome::kSignaled:
      return static_cast<unsigned char>(128 + (signal & 0x7F));
    case Outcome::kNotStarted:
      break;
  }
  return 127;
}

std::string ChildSearchPath(const std::string& path) {
  std::string kept;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    if (end > start && path[start] == '/') {
      if (!kept.empty()) kept += ':';
      kept += path.substr(start, end - start);
    }
    start = end + 1;
  }
  return kept.empty() ? "/usr/bin:/bin" : kept;
}

}  // namespace zavo
