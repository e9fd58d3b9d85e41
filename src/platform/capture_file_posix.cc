#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/capture_file.h"

namespace zavo {

Status CaptureFile::Create(std::unique_ptr<CaptureFile>* file) {
  const char* folder = getenv("TMPDIR");
  std::string pattern =
      std::string(folder != nullptr && folder[0] == '/' ? folder : "/tmp") +
      "/zavo-output-XXXXXX";
  // mkstemp makes the file with mode 0600, O_EXCL; it is unlinked at once.
  int fd = mkostemp(&pattern[0], O_CLOEXEC);
  if (fd < 0) {
    int code = errno;
    return Status::Error("can't make a scratch file in [" + pattern +
                             "]: " + std::strerror(code),
                         code);
  }
  unlink(pattern.c_str());
  file->reset(new CaptureFile(fd));
  return Status();
}

CaptureFile::~CaptureFile() { close(static_cast<int>(handle_)); }

bool CaptureFile::Append(const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t put = write(static_cast<int>(handle_), p, left);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    left -= static_cast<std::size_t>(put);
  }
  return true;
}

bool CaptureFile::ForEachChunk(
    const std::function<void(const char*, std::size_t)>& take,
    std::int64_t from, std::int64_t to) {
  int fd = static_cast<int>(handle_);
  char buffer[65536];
  off_t at = static_cast<off_t>(from);
  for (;;) {
    std::size_t want = sizeof(buffer);
    if (to >= 0) {
      if (at >= to) break;
      if (static_cast<std::int64_t>(want) > to - at) {
        want = static_cast<std::size_t>(to - at);
      }
    }
    ssize_t got = pread(fd, buffer, want, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    take(buffer, static_cast<std::size_t>(got));
    at += got;
  }
  return true;
}

std::int64_t CaptureFile::Size() const {
  struct stat st;
  if (fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

}  // namespace zavo
