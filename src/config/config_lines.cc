#include "config/config_lines.h"

#include <string>
#include <vector>

namespace zavo {

std::vector<std::string> SplitConfigLines(const std::string& data,
                                          std::string* line_end) {
  std::vector<std::string> lines;
  bool first_end = true;
  std::size_t pos = 0;
  while (pos < data.size()) {
    std::size_t end = data.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(data.substr(pos));
      break;
    }
    lines.push_back(data.substr(pos, end - pos));
    std::size_t next = end + 1;
    char partner = data[end] == '\r' ? '\n' : '\r';
    if (next < data.size() && data[next] == partner) ++next;
    if (first_end && line_end != nullptr) {
      *line_end = data.substr(end, next - end);
    }
    first_end = false;
    pos = next;
  }
  return lines;
}

}  // namespace zavo
