#include "config/config_lines.h"

#include <string>
#include <vector>

namespace zavo {

std::vector<std::string> SplitConfigLines(const std::string& data) {
  std::vector<std::string> lines;
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
    pos = next;
  }
  return lines;
}

}  // namespace zavo
