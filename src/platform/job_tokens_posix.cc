#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/job_tokens.h"

namespace zavo {

namespace {

bool IsPipe(long fd) {
  if (fd < 0 || fd > 1 << 20) return false;
  struct stat st;
  return fstat(static_cast<int>(fd), &st) == 0 && S_ISFIFO(st.st_mode);
}

// "R,W" from kVariable; false unless both name pipes open here.
bool Inherited(long* take, long* give) {
  const char* text = getenv(JobTokens::kVariable);
  if (text == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  *take = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != ',') return false;
  const char* second = end + 1;
  *give = std::strtol(second, &end, 10);
  if (errno != 0 || end == second || *end != '\0') return false;
  return IsPipe(*take) && IsPipe(*give);
}

}  // namespace

Status JobTokens::Join(int count, std::unique_ptr<JobTokens>* tokens) {
  long take = -1, give = -1;
  if (Inherited(&take, &give)) {
    tokens->reset(new JobTokens(take, give));
    return Status();
  }
  // Not close-on-exec: nested runs inherit the pipe (and so do the
  // archivers, which never look at it).
  int fds[2];
  if (pipe(fds) != 0) {
    return Status::Error(std::string("pipe: ") + std::strerror(errno), errno);
  }
  for (int i = 1; i < count; ++i) {
    char token = '+';
    if (write(fds[1], &token, 1) != 1) {
      Status failed =
          Status::Error(std::string("write: ") + std::strerror(errno), errno);
      close(fds[0]);
      close(fds[1]);
      return failed;
    }
  }
  std::string value = std::to_string(fds[0]) + "," + std::to_string(fds[1]);
  if (setenv(kVariable, value.c_str(), 1) != 0) {
    Status failed =
        Status::Error(std::string("setenv: ") + std::strerror(errno), errno);
    close(fds[0]);
    close(fds[1]);
    return failed;
  }
  tokens->reset(new JobTokens(fds[0], fds[1]));
  return Status();
}

// The descriptors stay open: children started later still need them, and
// the process ends soon after the run.
JobTokens::~JobTokens() = default;

JobTokens::Wait JobTokens::TakeShared(int milliseconds) {
  // The pipe is shared with other processes and left blocking for them: a
  // token another process took between poll and read would block the read,
  // so it reads only from a descriptor of its own made non-blocking.
  struct pollfd ready = {static_cast<int>(take_), POLLIN, 0};
  int n = poll(&ready, 1, milliseconds);
  if (n < 0) return errno == EINTR ? Wait::kTimedOut : Wait::kBroken;
  if (n == 0) return Wait::kTimedOut;
  if ((ready.revents & (POLLERR | POLLNVAL)) != 0) return Wait::kBroken;
  std::lock_guard<std::mutex> lock(read_mutex_);
  if (reader_ < 0) {
    std::string self = "/proc/self/fd/" + std::to_string(take_);
    reader_ = open(self.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (reader_ < 0) return Wait::kBroken;
  }
  char token;
  ssize_t got = read(reader_, &token, 1);
  if (got == 1) return Wait::kTaken;
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return Wait::kTimedOut;
  return Wait::kBroken;
}

void JobTokens::GiveShared() {
  char token = '+';
  ssize_t put;
  do {
    put = write(static_cast<int>(give_), &token, 1);
  } while (put < 0 && errno == EINTR);
}

}  // namespace zavo
