#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

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
    case FileOpenMode::kCreateNew: {
      // The Windows C runtime does not know fopen's "x".
      int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                     _S_IREAD | _S_IWRITE);
      if (fd < 0) return nullptr;
      std::FILE* f = _fdopen(fd, "wb");
      if (f == nullptr) _close(fd);
      return f;
    }
  }
  return nullptr;
}

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  return _commit(_fileno(file)) == 0;
}

// A rename on NTFS is journalled with the folder; there is no folder flush.
bool FlushFolderOf(const std::string&) { return true; }

}  // namespace zavo
