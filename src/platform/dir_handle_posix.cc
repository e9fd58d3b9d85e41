// POSIX held folders: descriptors and the *at() calls. Relative paths are
// resolved by openat2() with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the
// kernel has it, else one part at a time with O_NOFOLLOW.

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/dir_handle.h"

namespace zavo {

namespace {

thread_local std::string last_error;
bool use_openat2 = true;

bool Fail(const char* what, const std::string& name) {
  last_error = std::string(what) + "(" + name + "): " + std::strerror(errno);
  return false;
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
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) {
      if (fd < 0 && errno == EXDEV) errno = EXDEV;
      return fd;
    }
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

// Empties the folder held by fd (not closed here), as systemd's
// rm_rf_children() does: each sub-folder is opened below its parent with
// O_NOFOLLOW and emptied through its own descriptor. True when every entry
// went.
bool RemoveChildrenOf(int fd) {
  int list_fd = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (list_fd < 0) return Fail("openat", ".");
  DIR* dir = fdopendir(list_fd);
  if (dir == nullptr) {
    CloseKeepingErrno(list_fd);
    return Fail("fdopendir", ".");
  }
  // The names are read first: removing while reading may skip entries.
  std::vector<std::pair<std::string, unsigned char>> names;
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(dir);
    if (d == nullptr) break;
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) {
      continue;
    }
    names.emplace_back(d->d_name, d->d_type);
  }
  closedir(dir);
  bool ok = true;
  for (const auto& entry : names) {
    const char* name = entry.first.c_str();
    bool folder = entry.second == DT_DIR;
    if (entry.second == DT_UNKNOWN) {
      struct stat st;
      if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      folder = S_ISDIR(st.st_mode);
    }
    if (!folder) {
      if (unlinkat(fd, name, 0) == 0 || errno == ENOENT) continue;
      // Listed as a file, now a folder: it was swapped meanwhile.
      if (errno != EISDIR) {
        ok = Fail("unlinkat", entry.first);
        continue;
      }
    }
    int sub = OpenForRemoval(fd, name);
    if (sub < 0) {
      if (errno == ENOENT) continue;
      if (errno == ENOTDIR || errno == ELOOP) {
        // A link or file took the folder's place: remove that entry only.
        if (unlinkat(fd, name, 0) == 0 || errno == ENOENT) continue;
      }
      ok = Fail("openat", entry.first);
      continue;
    }
    bool emptied = RemoveChildrenOf(sub);
    close(sub);
    if (unlinkat(fd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) {
      if (emptied) Fail("unlinkat", entry.first);
      ok = false;
    }
  }
  return ok;
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

bool DescriptorStatus(int fd, const std::string& path, EntryStatus* status) {
  struct stat st;
  if (fstat(fd, &st) != 0) return Fail("fstat", path);
  FillStatus(st, status);
  return true;
}

bool SetDescriptorMode(int fd, const std::string& path, std::uint32_t mode) {
  if (fchmod(fd, static_cast<mode_t>(mode & 07777)) != 0) {
    return Fail("fchmod", path);
  }
  return true;
}

bool SyncDescriptor(int fd, const std::string& path) {
  if (fsync(fd) != 0) return Fail("fsync", path);
  return true;
}

std::string DescriptorChildPath(int fd, const std::string& path) {
  if (fd < 0) return path;
  int flags = fcntl(fd, F_GETFD);
  if (flags >= 0) fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC);
  return "/dev/fd/" + std::to_string(fd);
}

}  // namespace

std::string LastHandleError() { return last_error; }

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

long long HeldFile::Read(char* buffer, std::size_t size) {
  ssize_t got;
  do {
    got = read(fd_, buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) Fail("read", path_);
  return got;
}

bool HeldFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t put = write(fd_, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return Fail("write", path_);
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

std::int64_t HeldFile::Seek(std::int64_t offset, SeekFrom from) {
  int whence = SEEK_SET;
  switch (from) {
    case SeekFrom::kStart:
      break;
    case SeekFrom::kCurrent:
      whence = SEEK_CUR;
      break;
    case SeekFrom::kEnd:
      whence = SEEK_END;
      break;
    case SeekFrom::kData:
      whence = SEEK_DATA;
      break;
    case SeekFrom::kHole:
      whence = SEEK_HOLE;
      break;
  }
  off_t at = lseek(fd_, static_cast<off_t>(offset), whence);
  if (at < 0) {
    Fail("lseek", path_);
    return -1;
  }
  return static_cast<std::int64_t>(at);
}

bool HeldFile::Status(EntryStatus* status) const {
  return DescriptorStatus(fd_, path_, status);
}

bool HeldFile::Sync() { return SyncDescriptor(fd_, path_); }

bool HeldFile::SetMode(std::uint32_t mode) {
  return SetDescriptorMode(fd_, path_, mode);
}

bool HeldFile::SetOwner(std::uint32_t owner, std::uint32_t group) {
  if (fchown(fd_, static_cast<uid_t>(owner), static_cast<gid_t>(group)) != 0) {
    return Fail("fchown", path_);
  }
  return true;
}

bool HeldFile::SetTime(const FileTime& time) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(time.seconds);
  times[1].tv_nsec = static_cast<long>(time.nanoseconds);
  if (futimens(fd_, times) != 0) return Fail("futimens", path_);
  return true;
}

std::string HeldFile::ChildPath() { return DescriptorChildPath(fd_, path_); }

// ---- HeldFolder --------------------------------------------------------

HeldFolder::~HeldFolder() { Close(); }

HeldFolder::HeldFolder(HeldFolder&& other) noexcept {
  TakeDescriptor(&fd_, &path_, &other.fd_, &other.path_);
}

HeldFolder& HeldFolder::operator=(HeldFolder&& other) noexcept {
  if (this != &other) TakeDescriptor(&fd_, &path_, &other.fd_, &other.path_);
  return *this;
}

bool HeldFolder::Open(const std::string& path, HeldFolder* folder) {
  std::string name = path.empty() ? "." : path;
  int fd = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail("open", name);
  folder->Close();
  folder->fd_ = fd;
  folder->path_ = name.back() == '/' ? name : name + "/";
  return true;
}

bool HeldFolder::is_open() const { return fd_ >= 0; }

void HeldFolder::Close() { CloseDescriptor(&fd_); }

bool HeldFolder::OpenFolder(const std::string& relative,
                            HeldFolder* folder) const {
  int fd = OpenBeneath(fd_, relative, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return Fail("openat", path_ + relative);
  folder->Close();
  folder->fd_ = fd;
  folder->path_ = path_ + relative;
  if (folder->path_.back() != '/') folder->path_ += '/';
  return true;
}

bool HeldFolder::OpenFile(const std::string& relative, HeldFile* file) const {
  int fd = OpenBeneath(fd_, relative, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Fail("openat", path_ + relative);
  // Reads wait as they normally do; only the opening must not.
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  file->Close();
  file->fd_ = fd;
  file->path_ = path_ + relative;
  return true;
}

bool HeldFolder::NewFile(const std::string& name, std::uint32_t mode,
                         HeldFile* file) const {
  if (!IsPlainName(name)) {
    errno = EINVAL;
    return Fail("openat", path_ + name);
  }
  // Created with no permissions for anyone but the owner: the wanted bits
  // are set exactly by fchmod, so the umask cannot widen or narrow them.
  int fd = openat(fd_, name.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  S_IRUSR | S_IWUSR);
  if (fd < 0) return Fail("openat", path_ + name);
  if (fchmod(fd, static_cast<mode_t>(mode & 07777)) != 0) {
    Fail("fchmod", path_ + name);
    close(fd);
    unlinkat(fd_, name.c_str(), 0);
    return false;
  }
  file->Close();
  file->fd_ = fd;
  file->path_ = path_ + name;
  return true;
}

bool HeldFolder::NewFolder(const std::string& name, std::uint32_t mode,
                           HeldFolder* folder, bool* exists) const {
  if (exists != nullptr) *exists = false;
  if (!IsPlainName(name)) {
    errno = EINVAL;
    return Fail("mkdirat", path_ + name);
  }
  if (mkdirat(fd_, name.c_str(), S_IRWXU) != 0) {
    if (errno == EEXIST && exists != nullptr) *exists = true;
    return Fail("mkdirat", path_ + name);
  }
  // Between the creation and the opening the name may have been given to
  // something else: only a folder of our own, private as made, is taken.
  int fd = openat(fd_, name.c_str(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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
    Fail("fchmod", path_ + name);
    close(fd);
    return false;
  }
  folder->Close();
  folder->fd_ = fd;
  folder->path_ = path_ + name + "/";
  return true;
}

bool HeldFolder::MakeLink(const std::string& name, const std::string& target) {
  if (!IsPlainName(name)) {
    errno = EINVAL;
    return Fail("symlinkat", path_ + name);
  }
  if (symlinkat(target.c_str(), fd_, name.c_str()) != 0) {
    return Fail("symlinkat", path_ + name);
  }
  return true;
}

bool HeldFolder::Status(const std::string& name, EntryStatus* status) const {
  *status = EntryStatus();
  if (!IsPlainName(name)) {
    errno = EINVAL;
    return Fail("fstatat", path_ + name);
  }
  struct stat st;
  if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    return Fail("fstatat", path_ + name);
  }
  FillStatus(st, status);
  return true;
}

bool HeldFolder::ReadLink(const std::string& name, std::string* target) const {
  if (!IsPlainName(name)) {
    errno = EINVAL;
    return Fail("readlinkat", path_ + name);
  }
  // A target may be longer than any size told beforehand: grow until the
  // whole of it fits.
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = readlinkat(fd_, name.c_str(), &buffer[0], buffer.size());
    if (n < 0) return Fail("readlinkat", path_ + name);
    if (static_cast<std::size_t>(n) < buffer.size()) {
      target->assign(buffer, 0, static_cast<std::size_t>(n));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool HeldFolder::SelfStatus(EntryStatus* status) const {
  return DescriptorStatus(fd_, path_, status);
}

bool HeldFolder::SetMode(std::uint32_t mode) {
  return SetDescriptorMode(fd_, path_, mode);
}

bool HeldFolder::Sync() { return SyncDescriptor(fd_, path_); }

bool HeldFolder::ClaimWork() {
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
  return true;
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

bool HeldFolder::List(std::vector<DirEntry>* entries) const {
  entries->clear();
  int list_fd = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (list_fd < 0) return Fail("openat", path_);
  DIR* dir = fdopendir(list_fd);
  if (dir == nullptr) {
    CloseKeepingErrno(list_fd);
    return Fail("fdopendir", path_);
  }
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(dir);
    if (d == nullptr) break;
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) {
      continue;
    }
    struct stat st;
    if (fstatat(fd_, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    DirEntry entry;
    entry.name = d->d_name;
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
  bool ok = errno == 0;
  closedir(dir);
  if (!ok) return Fail("readdir", path_);
  return true;
}

bool HeldFolder::Unlink(const std::string& name) {
  if (!IsPlainName(name)) {
    errno = EINVAL;
    return Fail("unlinkat", path_ + name);
  }
  if (unlinkat(fd_, name.c_str(), 0) != 0)
    return Fail("unlinkat", path_ + name);
  return true;
}

bool HeldFolder::RemoveTree(const std::string& name) {
  if (!IsPlainName(name)) {
    errno = EINVAL;
    return Fail("unlinkat", path_ + name);
  }
  if (unlinkat(fd_, name.c_str(), 0) == 0 || errno == ENOENT) return true;
  if (errno != EISDIR && errno != EPERM) return Fail("unlinkat", path_ + name);
  int sub = OpenForRemoval(fd_, name.c_str());
  if (sub < 0) {
    if (errno == ENOENT) return true;
    return Fail("openat", path_ + name);
  }
  RemoveChildrenOf(sub);
  close(sub);
  if (unlinkat(fd_, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
    return Fail("unlinkat", path_ + name);
  }
  return true;
}

bool HeldFolder::RemoveChildren() { return RemoveChildrenOf(fd_); }

bool HeldFolder::RemoveEmptyFolder(const std::string& name) {
  if (!IsPlainName(name)) {
    errno = EINVAL;
    return Fail("unlinkat", path_ + name);
  }
  if (unlinkat(fd_, name.c_str(), AT_REMOVEDIR) != 0) {
    return Fail("unlinkat", path_ + name);
  }
  return true;
}

bool HeldFolder::Rename(const std::string& name, const HeldFolder& to,
                        const std::string& to_name, bool replace, bool* taken) {
  if (taken != nullptr) *taken = false;
  if (!IsPlainName(name) || !IsPlainName(to_name)) {
    errno = EINVAL;
    return Fail("renameat", path_ + name);
  }
  if (!replace) {
    if (renameat2(fd_, name.c_str(), to.fd_, to_name.c_str(),
                  RENAME_NOREPLACE) == 0) {
      return true;
    }
    if (errno == EEXIST) {
      if (taken != nullptr) *taken = true;
      return Fail("renameat2", path_ + name + " -> " + to.path_ + to_name);
    }
    // File systems without RENAME_NOREPLACE: a hard link fails on an
    // existing name just as well, and the old name goes after.
    if (errno != EINVAL && errno != ENOSYS) {
      return Fail("renameat2", path_ + name + " -> " + to.path_ + to_name);
    }
    if (linkat(fd_, name.c_str(), to.fd_, to_name.c_str(), 0) != 0) {
      if (errno == EEXIST && taken != nullptr) *taken = true;
      return Fail("linkat", path_ + name + " -> " + to.path_ + to_name);
    }
    unlinkat(fd_, name.c_str(), 0);
    return true;
  }
  if (renameat(fd_, name.c_str(), to.fd_, to_name.c_str()) != 0) {
    return Fail("renameat", path_ + name + " -> " + to.path_ + to_name);
  }
  return true;
}

std::string HeldFolder::ChildPath() { return DescriptorChildPath(fd_, path_); }

}  // namespace zavo
