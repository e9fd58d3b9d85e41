// O_APPEND makes the seek to the end and the write one step of the kernel:
// appenders in other processes (nested runs, parallel jobs) cannot slip a
// record in between, and a local file system writes the bytes of one call
// together.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/append_file.h"

namespace zavo {

AppendFile::~AppendFile() { Close(); }

bool AppendFile::is_open() const { return fd_ >= 0; }

void AppendFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool AppendFile::Open(const std::string& path) {
  Close();
  path_ = path;
  error_.clear();
  torn_ = false;
  // Read access lets the run read back what nested runs appended; a file
  // that only allows writing still takes records. A link is never followed
  // (a report in a folder others write could be made to lead anywhere),
  // and a pipe never waited for.
  readable_ = true;
  int flags =
      O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
  do {
    fd_ = open(path.c_str(), O_RDWR | flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0 && errno == EACCES) {
    readable_ = false;
    do {
      fd_ = open(path.c_str(), O_WRONLY | flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
  }
  if (fd_ < 0) {
    error_ = "open(" + path + "): " +
             (errno == ELOOP ? std::string("a link, not followed")
                             : std::strerror(errno));
    return false;
  }
  return CheckRegular();
}

bool AppendFile::Adopt(std::intptr_t handle, const std::string& path) {
  Close();
  path_ = path;
  error_.clear();
  torn_ = false;
  int fd = static_cast<int>(handle);
  int mode = handle > 2 && handle < 1 << 20 ? fcntl(fd, F_GETFL) : -1;
  if (mode < 0 || (mode & O_APPEND) == 0) {
    error_ = "adopt(" + path + "): no report handed on";
    return false;
  }
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  fd_ = fd;
  readable_ = (mode & O_ACCMODE) == O_RDWR;
  return CheckRegular();
}

bool AppendFile::CheckRegular() {
  struct stat st;
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    error_ = "open(" + path_ + "): not a regular file";
    Close();
    return false;
  }
  return true;
}

std::intptr_t AppendFile::handle() const { return fd_; }

bool AppendFile::Append(const std::string& data) {
  if (fd_ < 0) {
    error_ = "append(" + path_ + "): not open";
    return false;
  }
  std::string fixed;
  const std::string* out = &data;
  if (torn_) {
    // Put the next record on a line of its own after a torn one.
    fixed = "\n" + data;
    out = &fixed;
  }
  ssize_t n;
  do {
    n = write(fd_, out->data(), out->size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    error_ = "write(" + path_ + "): " + std::strerror(errno);
    return false;
  }
  if (static_cast<std::size_t>(n) != out->size()) {
    torn_ = n > 0 || torn_;
    error_ = "write(" + path_ + "): only " + std::to_string(n) + " of " +
             std::to_string(out->size()) + " bytes written";
    return false;
  }
  torn_ = false;
  return true;
}

std::int64_t AppendFile::Size() {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool AppendFile::ReadFrom(std::int64_t offset, std::string* data) {
  data->clear();
  std::int64_t end = Size();
  if (!readable_ || end < 0 || offset < 0) return false;
  if (offset >= end) return true;
  data->resize(static_cast<std::size_t>(end - offset));
  std::size_t done = 0;
  while (done < data->size()) {
    ssize_t n = pread(fd_, &(*data)[done], data->size() - done,
                      static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  data->resize(done);
  return true;
}

}  // namespace zavo
