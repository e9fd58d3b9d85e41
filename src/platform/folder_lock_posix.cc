#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

#include "platform/folder_lock.h"

namespace zavo {

// flock on the folder itself: nothing is written into the folder, and the
// lock goes with the descriptor when the run ends in any way, a crash or a
// kill included.
std::unique_ptr<FolderLock> FolderLock::Take(const std::string& folder,
                                             Outcome* outcome,
                                             std::string* error) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  int fd = open(path.c_str(),
                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *outcome = Outcome::kError;
    *error = std::strerror(errno);
    return nullptr;
  }
  int done;
  do {
    done = flock(fd, LOCK_EX | LOCK_NB);
  } while (done != 0 && errno == EINTR);
  if (done != 0) {
    *outcome = errno == EWOULDBLOCK ? Outcome::kBusy : Outcome::kError;
    *error = std::strerror(errno);
    close(fd);
    return nullptr;
  }
  *outcome = Outcome::kTaken;
  return std::unique_ptr<FolderLock>(new FolderLock(fd));
}

FolderLock::~FolderLock() { close(static_cast<int>(handle_)); }

}  // namespace zavo
