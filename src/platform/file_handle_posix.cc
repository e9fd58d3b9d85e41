#include <sys/stat.h>

#include "platform/file_handle.h"

namespace zavo {

std::FILE* OpenFile(const std::string& path, FileOpenMode mode) {
  switch (mode) {
    case FileOpenMode::kRead:
      return std::fopen(path.c_str(), "rb");
    case FileOpenMode::kCreate:
      return std::fopen(path.c_str(), "wb");
    case FileOpenMode::kAppend:
      return std::fopen(path.c_str(), "ab");
    case FileOpenMode::kCreateNew:
      return std::fopen(path.c_str(), "wbx");
  }
  return nullptr;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace zavo
