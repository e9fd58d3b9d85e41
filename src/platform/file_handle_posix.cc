#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_handle.h"

namespace zavo {

std::FILE* OpenFile(const std::string& path, FileOpenMode mode) {
  // "e": close-on-exec, so that no child ever inherits a file opened here.
  switch (mode) {
    case FileOpenMode::kRead:
      return std::fopen(path.c_str(), "rbe");
    case FileOpenMode::kCreate:
      return std::fopen(path.c_str(), "wbe");
    case FileOpenMode::kAppend:
      return std::fopen(path.c_str(), "abe");
    case FileOpenMode::kCreateNew:
      return std::fopen(path.c_str(), "wbxe");
  }
  return nullptr;
}

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  return ::fsync(fileno(file)) == 0;
}

bool FlushFolderOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string(".")
                       : slash == 0               ? std::string("/")
                                                  : path.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace zavo
