// POSIX held folders: descriptors and the *at() calls. Relative paths are
// resolved by openat2() with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the
// kernel has it, else one part at a time with O_NOFOLLOW.

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/dir_handle.h"

namespace zavo {

namespace {

// Cleared once, at the first call that finds the kernel without openat2;
// every thread then takes the fallback.
std::atomic<bool> use_openat2{true};

Status Fail(const char* what, const std::string& name) {
  int code = errno;
  return Status::Error(
      std::string(what) + "(" + name + "): " + std::strerror(code), code,
      code == ENOENT);
}

void CloseKeepingErrno(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

void FillStatus(const struct stat& st, EntryStatus* status) {
  if (S_ISREG(st.st_mode)) {
    status->kind = EntryStatus::Kind::kFile;
  } else if (S_ISDIR(st.st_mode)) {
    status->kind = EntryStatus::Kind::kFolder;
  } else if (S_ISLNK(st.st_mode)) {
    status->kind = EntryStatus::Kind::kLink;
  } else {
    status->kind = EntryStatus::Kind::kOther;
  }
  status->identity.device = static_cast<std::uint64_t>(st.st_dev);
  status->identity.inode = static_cast<std::uint64_t>(st.st_ino);
  status->mode = static_cast<std::uint32_t>(st.st_mode & 07777);
  status->read_only = !S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
  status->owner = static_cast<std::uint32_t>(st.st_uid);
  status->group = static_cast<std::uint32_t>(st.st_gid);
  status->size = static_cast<std::int64_t>(st.st_size);
  status->modified_seconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  status->modified_nanoseconds = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
  status->links = static_cast<std::uint64_t>(st.st_nlink);
}

// A single name inside a folder: no separator, not "." or "..", not empty.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// Opens `relative` below `dirfd` with `flags`, never through a link and
// never out of the folder. -1 with errno set on failure (ELOOP for a link,
// EXDEV for a way out).
int OpenBeneath(int dirfd, const std::string& relative, int flags) {
  if (relative.empty() || relative[0] == '/' ||
      relative.find('\0') != std::string::npos) {
    errno = EXDEV;
    return -1;
  }
  flags |= O_NOFOLLOW | O_CLOEXEC;
  if (use_openat2) {
    struct open_how how;
    std::memset(&how, 0, sizeof(how));
    how.flags = static_cast<std::uint64_t>(flags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    int fd;
    do {
      fd = static_cast<int>(
          syscall(SYS_openat2, dirfd, relative.c_str(), &how, sizeof(how)));
    } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    // Older kernels lack the call; a filter may refuse it outright.
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
    use_openat2 = false;
  }
  // One part at a time: every folder part opened O_DIRECTORY | O_NOFOLLOW
  // below the one before; ".." is refused outright, as it could climb.
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      errno = EXDEV;
      return -1;
    }
    parts.push_back(part);
  }
  if (parts.empty()) return openat(dirfd, ".", flags);
  int current = dirfd;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    int next = openat(current, parts[i].c_str(),
                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (current != dirfd) CloseKeepingErrno(current);
    if (next < 0) return -1;
    current = next;
  }
  int fd = openat(current, parts.back().c_str(), flags);
  if (current != dirfd) CloseKeepingErrno(current);
  return fd;
}

// The permission its owner needs to empty a folder.
constexpr mode_t kOwnerAll = S_IRWXU;

// Opens the sub-folder `name` of dirfd for removal: never through a link,
// and opened up for its owner first when it was unpacked without read,
// write or search permission.
int OpenForRemoval(int dirfd, const char* name) {
  int fd = openat(dirfd, name,
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 && errno == EACCES) {
    // fchmodat with AT_SYMLINK_NOFOLLOW never changes a link's target: a
    // link swapped in meanwhile makes it fail.
    if (fchmodat(dirfd, name, kOwnerAll, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    fd = openat(dirfd, name,
                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  }
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) == 0 && (st.st_mode & kOwnerAll) != kOwnerAll) {
    fchmod(fd, (st.st_mode & 07777) | kOwnerAll);
  }
  return fd;
}

// The names in the folder held by fd, "." and ".." left out, with whether
// each is a folder (DT_UNKNOWN asked with fstatat).
bool ReadNames(int fd, std::vector<std::pair<std::string, bool>>* names) {
  names->clear();
  int list_fd = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (list_fd < 0) return false;
  DIR* dir = fdopendir(list_fd);
  if (dir == nullptr) {
    CloseKeepingErrno(list_fd);
    return false;
  }
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(dir);
    if (d == nullptr) break;
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) {
      continue;
    }
    bool folder = d->d_type == DT_DIR;
    if (d->d_type == DT_UNKNOWN) {
      struct stat st;
      if (fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      folder = S_ISDIR(st.st_mode);
    }
    names->emplace_back(d->d_name, folder);
  }
  bool ok = errno == 0;
  closedir(dir);
  return ok;
}

// Every eighth level of a tree being removed keeps its descriptor open;
// the levels between are opened again from the one above when the walk
// comes back to them. A path of eight names stays within PATH_MAX.
constexpr std::size_t kHeldLevels = 8;

// Empties the folder held by `top` (not closed here), as systemd's
// rm_rf_children() does, without one descriptor per level: a walk of its
// own with a stack of folders. Each sub-folder is opened below its parent
// with O_NOFOLLOW (or below the nearest held level by a path that follows
// no link and cannot leave it) and emptied through its own descriptor.
// Succeeds when every entry went; otherwise the first failure.
Status RemoveChildrenOf(int top) {
  struct Level {
    int fd;            // -1 while a deeper level is worked on (not held)
    std::string name;  // its name in the level above
    std::vector<std::string> folders;  // its sub-folders still to go
    bool complete;                     // everything else in it went
  };
  std::vector<Level> stack;
  Status first;
  auto note = [&first](const Status& s) {
    if (first.ok() && !s.ok()) first = s;
  };
  // Lists the level just pushed: its files go at once, its folders wait.
  auto enter = [&](Level* level) {
    std::vector<std::pair<std::string, bool>> names;
    if (!ReadNames(level->fd, &names)) {
      note(Fail("readdir", level->name));
      level->complete = false;
      return;
    }
    for (const auto& entry : names) {
      if (entry.second) {
        level->folders.push_back(entry.first);
        continue;
      }
      if (unlinkat(level->fd, entry.first.c_str(), 0) == 0 || errno == ENOENT) {
        continue;
      }
      // Listed as a file, now a folder: it was swapped meanwhile.
      if (errno == EISDIR) {
        level->folders.push_back(entry.first);
        continue;
      }
      note(Fail("unlinkat", entry.first));
      level->complete = false;
    }
  };
  // The descriptor of level i, opened again from the nearest held level
  // above it when needed.
  auto descriptor = [&](std::size_t i) -> int {
    if (stack[i].fd >= 0) return stack[i].fd;
    std::size_t anchor = i;
    while (stack[anchor].fd < 0) --anchor;
    std::string relative;
    for (std::size_t j = anchor + 1; j <= i; ++j) {
      relative += (relative.empty() ? "" : "/") + stack[j].name;
    }
    stack[i].fd = OpenBeneath(stack[anchor].fd, relative,
                              O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    return stack[i].fd;
  };
  stack.push_back({top, ".", {}, true});
  enter(&stack.back());
  while (!stack.empty()) {
    const std::size_t depth = stack.size() - 1;
    int fd = descriptor(depth);
    if (fd < 0) {
      // Gone or replaced since it was entered: what it held is not ours to
      // chase any further.
      note(Fail("openat", stack[depth].name));
      if (depth == 0) break;
      stack[depth - 1].complete = false;
      stack.pop_back();
      continue;
    }
    Level& level = stack[depth];
    if (!level.folders.empty()) {
      std::string name = std::move(level.folders.back());
      level.folders.pop_back();
      int sub = OpenForRemoval(fd, name.c_str());
      if (sub < 0) {
        if (errno == ENOENT) continue;
        if ((errno == ENOTDIR || errno == ELOOP) &&
            (unlinkat(fd, name.c_str(), 0) == 0 || errno == ENOENT)) {
          continue;  // a link or file took the folder's place
        }
        note(Fail("openat", name));
        level.complete = false;
        continue;
      }
      // Levels between the held ones let go while the walk is below them.
      if (depth > 0 && depth % kHeldLevels != 0) {
        close(level.fd);
        level.fd = -1;
      }
      stack.push_back({sub, name, {}, true});
      enter(&stack.back());
      continue;
    }
    // Emptied: it goes from the level above.
    if (depth == 0) break;
    bool complete = level.complete;
    std::string name = level.name;
    if (level.fd >= 0) close(level.fd);
    stack.pop_back();
    int parent = descriptor(depth - 1);
    if (parent < 0) continue;  // noted when the walk gets back there
    if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
      if (complete) note(Fail("unlinkat", name));
      stack[depth - 1].complete = false;
    }
    if (!complete) stack[depth - 1].complete = false;
  }
  for (std::size_t i = 1; i < stack.size(); ++i) {
    if (stack[i].fd >= 0) close(stack[i].fd);
  }
  if (first.ok() && !stack.empty() && !stack[0].complete) {
    first = Status::Error("some entries could not be removed");
  }
  return first;
}

// The attribute that marks a work folder as made by zavo.
constexpr char kWorkMark[] = "user.zavo.work";

// The mark's text for the folder held by fd: its device, inode and birth
// time. Empty when the file system does not tell the birth time, as a mark
// without it could be copied onto a folder unpacked later.
std::string WorkMarkText(int fd) {
  struct statx st;
  if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT,
            STATX_INO | STATX_BTIME, &st) != 0 ||
      (st.stx_mask & STATX_BTIME) == 0) {
    return std::string();
  }
  return "zavo-work " + std::to_string(st.stx_dev_major) + ":" +
         std::to_string(st.stx_dev_minor) + " " + std::to_string(st.stx_ino) +
         " " + std::to_string(st.stx_btime.tv_sec) + "." +
         std::to_string(st.stx_btime.tv_nsec);
}

// A lock on the first byte of the folder's open file description.
bool OfdLock(int fd, short type, int command, struct flock* lock) {
  std::memset(lock, 0, sizeof(*lock));
  lock->l_type = type;
  lock->l_whence = SEEK_SET;
  lock->l_start = 0;
  lock->l_len = 1;
  int result;
  do {
    result = fcntl(fd, command, lock);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// The calls a held file and a held folder make alike on their descriptor
// `fd`, opened by `path`.

void CloseDescriptor(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// Closes what *fd holds and takes over what *from_fd holds instead.
void TakeDescriptor(int* fd, std::string* path, int* from_fd,
                    std::string* from_path) {
  CloseDescriptor(fd);
  *fd = *from_fd;
  *path = std::move(*from_path);
  *from_fd = -1;
}

Status DescriptorStatus(int fd, const std::string& path, EntryStatus* status) {
  struct stat st;
  if (fstat(fd, &st) != 0) return Fail("fstat", path);
  FillStatus(st, status);
  return Status();
}

Status SetDescriptorMode(int fd, const std::string& path, std::uint32_t mode) {
  if (fchmod(fd, static_cast<mode_t>(mode & 07777)) != 0) {
    return Fail("fchmod", path);
  }
  return Status();
}

Status SyncDescriptor(int fd, const std::string& path) {
  if (fsync(fd) != 0) return Fail("fsync", path);
  return Status();
}

std::string DescriptorChildPath(int fd, const std::string& path) {
  if (fd < 0) return path;
  return "/dev/fd/" + std::to_string(fd);
}

Status Refuse(const char* what, const std::string& name) {
  errno = EINVAL;
  return Fail(what, name);
}

}  // namespace

void UseOpenat2(bool use) { use_openat2 = use; }

// ---- HeldFile ----------------------------------------------------------

HeldFile::~HeldFile() { Close(); }

HeldFile::HeldFile(HeldFile&& other) noexcept {
  TakeDescriptor(&fd_, &path_, &other.fd_, &other.path_);
}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) TakeDescriptor(&fd_, &path_, &other.fd_, &other.path_);
  return *this;
}

bool HeldFile::is_open() const { return fd_ >= 0; }

void HeldFile::Close() { CloseDescriptor(&fd_); }

Status HeldFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                        std::size_t* got) const {
  *got = 0;
  while (*got < size) {
    ssize_t n = pread(fd_, buffer + *got, size - *got,
                      static_cast<off_t>(offset + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail("pread", path_);
    if (n == 0) break;
    *got += static_cast<std::size_t>(n);
  }
  return Status();
}

Status HeldFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t put = write(fd_, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return Fail("write", path_);
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return Status();
}

Status HeldFile::NextRegion(std::uint64_t offset, FileRegion region,
                            std::uint64_t* at) const {
  // The position moves, but nothing here reads by it: reads say where.
  off_t found = lseek(fd_, static_cast<off_t>(offset),
                      region == FileRegion::kData ? SEEK_DATA : SEEK_HOLE);
  if (found < 0) return Fail("lseek", path_);
  *at = static_cast<std::uint64_t>(found);
  return Status();
}

Status HeldFile::Stat(EntryStatus* status) const {
  return DescriptorStatus(fd_, path_, status);
}

Status HeldFile::Time(FileTime* time) const {
  struct stat st;
  if (fstat(fd_, &st) != 0) return Fail("fstat", path_);
  time->seconds = st.st_mtim.tv_sec;
  time->nanoseconds = st.st_mtim.tv_nsec;
  return Status();
}

Status HeldFile::Sync() { return SyncDescriptor(fd_, path_); }

Status HeldFile::SetMode(std::uint32_t mode) {
  return SetDescriptorMode(fd_, path_, mode);
}

Status HeldFile::SetOwner(std::uint32_t owner, std::uint32_t group) {
  if (fchown(fd_, static_cast<uid_t>(owner), static_cast<gid_t>(group)) != 0) {
    return Fail("fchown", path_);
  }
  return Status();
}

Status HeldFile::SetTime(const FileTime& time) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(time.seconds);
  times[1].tv_nsec = static_cast<long>(time.nanoseconds);
  if (futimens(fd_, times) != 0) return Fail("futimens", path_);
  return Status();
}

std::string HeldFile::ChildPath() const {
  return DescriptorChildPath(fd_, path_);
}

std::intptr_t HeldFile::handle() const { return fd_; }

// ---- HeldFolder --------------------------------------------------------

HeldFolder::~HeldFolder() { Close(); }

HeldFolder::HeldFolder(HeldFolder&& other) noexcept {
  TakeDescriptor(&fd_, &path_, &other.fd_, &other.path_);
}

HeldFolder& HeldFolder::operator=(HeldFolder&& other) noexcept {
  if (this != &other) TakeDescriptor(&fd_, &path_, &other.fd_, &other.path_);
  return *this;
}

Status HeldFolder::Open(const std::string& path, HeldFolder* folder) {
  std::string name = path.empty() ? "." : path;
  int fd = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Fail("open", name);
  folder->Close();
  folder->fd_ = fd;
  folder->path_ = name.back() == '/' ? name : name + "/";
  return Status();
}

Status HeldFolder::Adopt(std::intptr_t handle, const std::string& path,
                         HeldFolder* folder) {
  struct stat st;
  int fd = static_cast<int>(handle);
  if (handle < 3 || handle > INT32_MAX || fstat(fd, &st) != 0 ||
      !S_ISDIR(st.st_mode)) {
    errno = EBADF;
    return Fail("fstat", "/dev/fd/" + std::to_string(handle));
  }
  // Handed on to this process alone: its own children never get it unless
  // they are handed it too.
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  folder->Close();
  folder->fd_ = fd;
  folder->path_ = path.empty() || path.back() == '/' ? path : path + "/";
  return Status();
}

Status HeldFolder::Duplicate(HeldFolder* folder) const {
  int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return Fail("fcntl(F_DUPFD_CLOEXEC)", path_);
  folder->Close();
  folder->fd_ = fd;
  folder->path_ = path_;
  return Status();
}

bool HeldFolder::is_open() const { return fd_ >= 0; }

void HeldFolder::Close() { CloseDescriptor(&fd_); }

Status HeldFolder::OpenFolder(const std::string& relative,
                              HeldFolder* folder) const {
  int fd = OpenBeneath(fd_, relative, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
  if (fd < 0) return Fail("openat", path_ + relative);
  folder->Close();
  folder->fd_ = fd;
  folder->path_ = path_ + relative;
  if (folder->path_.back() != '/') folder->path_ += '/';
  return Status();
}

Status HeldFolder::OpenFile(const std::string& relative, HeldFile* file) const {
  int fd = OpenBeneath(fd_, relative, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Fail("openat", path_ + relative);
  // Reads wait as they normally do; only the opening must not.
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  file->Close();
  file->fd_ = fd;
  file->path_ = path_ + relative;
  return Status();
}

Status HeldFolder::NewFile(const std::string& name, std::uint32_t mode,
                           HeldFile* file) const {
  if (!IsPlainName(name)) return Refuse("openat", path_ + name);
  // Created with no permissions for anyone but the owner: the wanted bits
  // are set exactly by fchmod, so the umask cannot widen or narrow them.
  int fd = openat(fd_, name.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  S_IRUSR | S_IWUSR);
  if (fd < 0) return Fail("openat", path_ + name);
  if (fchmod(fd, static_cast<mode_t>(mode & 07777)) != 0) {
    Status failed = Fail("fchmod", path_ + name);
    close(fd);
    unlinkat(fd_, name.c_str(), 0);
    return failed;
  }
  file->Close();
  file->fd_ = fd;
  file->path_ = path_ + name;
  return Status();
}

Status HeldFolder::NewFolder(const std::string& name, std::uint32_t mode,
                             HeldFolder* folder, bool* exists) const {
  if (exists != nullptr) *exists = false;
  if (!IsPlainName(name)) return Refuse("mkdirat", path_ + name);
  if (mkdirat(fd_, name.c_str(), S_IRWXU) != 0) {
    if (errno == EEXIST && exists != nullptr) *exists = true;
    return Fail("mkdirat", path_ + name);
  }
  // Between the creation and the opening the name may have been given to
  // something else: only a folder of our own, private as made, is taken.
  int fd = openat(fd_, name.c_str(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Fail("openat", path_ + name);
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid() ||
      (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    close(fd);
    errno = EEXIST;
    if (exists != nullptr) *exists = true;
    return Fail("mkdirat", path_ + name);
  }
  if (fchmod(fd, static_cast<mode_t>(mode & 07777)) != 0) {
    Status failed = Fail("fchmod", path_ + name);
    close(fd);
    return failed;
  }
  folder->Close();
  folder->fd_ = fd;
  folder->path_ = path_ + name + "/";
  return Status();
}

Status HeldFolder::MakeLink(const std::string& name,
                            const std::string& target) {
  if (!IsPlainName(name)) return Refuse("symlinkat", path_ + name);
  if (symlinkat(target.c_str(), fd_, name.c_str()) != 0) {
    return Fail("symlinkat", path_ + name);
  }
  return Status();
}

Status HeldFolder::Stat(const std::string& name, EntryStatus* status) const {
  *status = EntryStatus();
  if (!IsPlainName(name)) return Refuse("fstatat", path_ + name);
  struct stat st;
  if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Status();
    return Fail("fstatat", path_ + name);
  }
  FillStatus(st, status);
  return Status();
}

Status HeldFolder::ReadLink(const std::string& name,
                            std::string* target) const {
  if (!IsPlainName(name)) return Refuse("readlinkat", path_ + name);
  // A target may be longer than any size told beforehand: grow until the
  // whole of it fits.
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = readlinkat(fd_, name.c_str(), &buffer[0], buffer.size());
    if (n < 0) return Fail("readlinkat", path_ + name);
    if (static_cast<std::size_t>(n) < buffer.size()) {
      target->assign(buffer, 0, static_cast<std::size_t>(n));
      return Status();
    }
    buffer.resize(buffer.size() * 2);
  }
}

Status HeldFolder::SelfStat(EntryStatus* status) const {
  return DescriptorStatus(fd_, path_, status);
}

Status HeldFolder::SetMode(std::uint32_t mode) {
  return SetDescriptorMode(fd_, path_, mode);
}

Status HeldFolder::Sync() { return SyncDescriptor(fd_, path_); }

Status HeldFolder::FreeSpace(std::int64_t* bytes, std::int64_t* entries) const {
  struct statvfs st;
  if (fstatvfs(fd_, &st) != 0) return Fail("fstatvfs", path_);
  *bytes = static_cast<std::int64_t>(st.f_bavail) *
           static_cast<std::int64_t>(st.f_frsize);
  // File systems that make inodes as they go (btrfs) tell none.
  *entries = st.f_files == 0 ? -1 : static_cast<std::int64_t>(st.f_favail);
  return Status();
}

Status HeldFolder::ClaimWork() {
  struct flock lock;
  if (!OfdLock(fd_, F_RDLCK, F_OFD_SETLK, &lock)) {
    return Fail("fcntl(F_OFD_SETLK)", path_);
  }
  // Only a claimed folder is marked: a run that finds the mark and no claim
  // knows the run that made the folder is gone.
  std::string mark = WorkMarkText(fd_);
  if (!mark.empty()) {
    fsetxattr(fd_, kWorkMark, mark.data(), mark.size(), 0);
  }
  return Status();
}

LeftoverCheck HeldFolder::CheckLeftover() {
  // The mark is read before the claim is looked at: a run marks its folder
  // only once it holds the claim, so a mark seen here means the claim was
  // taken before, and is still there if that run lives. Anyone who may
  // write in a folder may set its user attributes too: only a folder that
  // nobody but its owner may change can carry a mark worth believing.
  bool marked = false;
  struct stat st;
  std::string expected = WorkMarkText(fd_);
  if (!expected.empty() && fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode) &&
      st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
    std::string found(expected.size() + 1, '\0');
    ssize_t n = fgetxattr(fd_, kWorkMark, &found[0], found.size());
    marked = n >= 0 && static_cast<std::size_t>(n) == expected.size() &&
             found.compare(0, expected.size(), expected) == 0;
  }
  // A write lock would conflict with any run's claim; only asked, since a
  // folder opened for reading cannot hold one. A live run's folder is
  // passed over, marked or not.
  struct flock lock;
  if (OfdLock(fd_, F_WRLCK, F_OFD_GETLK, &lock) && lock.l_type != F_UNLCK) {
    return LeftoverCheck::kLive;
  }
  if (!marked) return LeftoverCheck::kUnproven;
  // A nested run at work in the folder holds its flock, and so does another
  // run that met it a moment earlier and acts on it.
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? LeftoverCheck::kLive
                                : LeftoverCheck::kUnproven;
  }
  return LeftoverCheck::kProven;
}

Status HeldFolder::List(std::vector<DirEntry>* entries, bool kinds_only) const {
  entries->clear();
  int list_fd = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (list_fd < 0) return Fail("openat", path_);
  DIR* dir = fdopendir(list_fd);
  if (dir == nullptr) {
    Status failed = Fail("fdopendir", path_);
    close(list_fd);
    return failed;
  }
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(dir);
    if (d == nullptr) break;
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) {
      continue;
    }
    DirEntry entry;
    entry.name = d->d_name;
    entry.inode = static_cast<std::uint64_t>(d->d_ino);
    if (kinds_only && d->d_type != DT_UNKNOWN) {
      entry.attributes = d->d_type == DT_LNK   ? kAttrLink
                         : d->d_type == DT_DIR ? kAttrFolder
                                               : kAttrArchive;
      if (entry.name[0] == '.') entry.attributes |= kAttrHidden;
      entries->push_back(entry);
      continue;
    }
    struct stat st;
    if (fstatat(fd_, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      entry.attributes = kAttrLink;
    } else if (S_ISDIR(st.st_mode)) {
      entry.attributes = kAttrFolder;
    } else {
      entry.attributes = kAttrArchive;
      if ((st.st_mode & S_IWUSR) == 0) entry.attributes |= kAttrReadOnly;
    }
    if (entry.name[0] == '.') entry.attributes |= kAttrHidden;
    entry.inode = static_cast<std::uint64_t>(st.st_ino);
    entries->push_back(entry);
  }
  Status listed = errno == 0 ? Status() : Fail("readdir", path_);
  closedir(dir);
  return listed;
}

Status HeldFolder::Unlink(const std::string& name) {
  if (!IsPlainName(name)) return Refuse("unlinkat", path_ + name);
  if (unlinkat(fd_, name.c_str(), 0) != 0) {
    return Fail("unlinkat", path_ + name);
  }
  return Status();
}

Status HeldFolder::RemoveTree(const std::string& name) {
  if (!IsPlainName(name)) return Refuse("unlinkat", path_ + name);
  if (unlinkat(fd_, name.c_str(), 0) == 0 || errno == ENOENT) return Status();
  if (errno != EISDIR && errno != EPERM) return Fail("unlinkat", path_ + name);
  int sub = OpenForRemoval(fd_, name.c_str());
  if (sub < 0) {
    if (errno == ENOENT) return Status();
    return Fail("openat", path_ + name);
  }
  Status emptied = RemoveChildrenOf(sub);
  close(sub);
  if (unlinkat(fd_, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
    return emptied.ok() ? Fail("unlinkat", path_ + name) : emptied;
  }
  return Status();
}

Status HeldFolder::RemoveChildren() { return RemoveChildrenOf(fd_); }

Status HeldFolder::RemoveEmptyFolder(const std::string& name) {
  if (!IsPlainName(name)) return Refuse("unlinkat", path_ + name);
  if (unlinkat(fd_, name.c_str(), AT_REMOVEDIR) != 0) {
    return Fail("unlinkat", path_ + name);
  }
  return Status();
}

Status HeldFolder::Rename(const std::string& name, const HeldFolder& to,
                          const std::string& to_name, bool replace,
                          bool* taken) {
  if (taken != nullptr) *taken = false;
  if (!IsPlainName(name) || !IsPlainName(to_name)) {
    return Refuse("renameat", path_ + name);
  }
  const std::string what = path_ + name + " -> " + to.path_ + to_name;
  if (!replace) {
    if (renameat2(fd_, name.c_str(), to.fd_, to_name.c_str(),
                  RENAME_NOREPLACE) == 0) {
      return Status();
    }
    if (errno == EEXIST) {
      if (taken != nullptr) *taken = true;
      return Fail("renameat2", what);
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an
    // existing name just as well, and the old name goes after.
    if (errno != EINVAL && errno != ENOSYS) return Fail("renameat2", what);
    if (linkat(fd_, name.c_str(), to.fd_, to_name.c_str(), 0) != 0) {
      if (errno == EEXIST && taken != nullptr) *taken = true;
      return Fail("linkat", what);
    }
    unlinkat(fd_, name.c_str(), 0);
    return Status();
  }
  if (renameat(fd_, name.c_str(), to.fd_, to_name.c_str()) != 0) {
    return Fail("renameat", what);
  }
  return Status();
}

std::string HeldFolder::ChildPath() const {
  return DescriptorChildPath(fd_, path_);
}

std::intptr_t HeldFolder::handle() const { return fd_; }

void HeldFolder::StartChildHere(ChildSpec* launch) const {
  launch->folder = fd_;
  launch->folder_path.clear();
}

}  // namespace zavo
