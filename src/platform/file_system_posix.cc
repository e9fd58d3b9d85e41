// POSIX file services. Attributes map onto the mode: read-only is a missing
// owner write bit, a folder is a directory, names beginning with "." are
// hidden, and there are no volume labels or system files. Links are reported
// as links (lstat), never as what they point to.

#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file_system.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

Status Fail(const char* what, const std::string& path) {
  int code = errno;
  return Status::Error(
      std::string(what) + "(" + path + "): " + std::strerror(code), code,
      code == ENOENT);
}

std::uint32_t BitsFromStat(const struct stat& st, const std::string& name) {
  std::uint32_t bits = 0;
  if (S_ISLNK(st.st_mode)) {
    bits |= kAttrLink;
  } else if (S_ISDIR(st.st_mode)) {
    bits |= kAttrFolder;
  } else {
    bits |= kAttrArchive;
  }
  if ((st.st_mode & S_IWUSR) == 0 && !S_ISLNK(st.st_mode)) {
    bits |= kAttrReadOnly;
  }
  if (!name.empty() && name[0] == '.') bits |= kAttrHidden;
  return bits;
}

}  // namespace

Status GetFileAttributes(const std::string& path, FileAttributes* attributes) {
  struct stat st;
  if (path.empty()) {
    errno = ENOENT;
    return Fail("lstat", path);
  }
  if (lstat(path.c_str(), &st) != 0) return Fail("lstat", path);
  attributes->bits = BitsFromStat(st, PathFileName(NoTrailingBackslash(path)));
  attributes->native = static_cast<std::uint32_t>(st.st_mode & 07777);
  return Status();
}

Status RestoreFileAttributes(const std::string& path,
                             const FileAttributes& attributes) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Fail("lstat", path);
  if (S_ISLNK(st.st_mode)) {
    errno = ELOOP;
    return Fail("chmod", path);
  }
  if ((st.st_mode & 07777) == attributes.native) return Status();
  if (chmod(path.c_str(), static_cast<mode_t>(attributes.native)) != 0) {
    return Fail("chmod", path);
  }
  return Status();
}

bool CanReplaceFile(const std::string& path) {
  struct stat st;
  // A file without its owner's write bit is read-only, also for root.
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      (st.st_mode & S_IWUSR) == 0) {
    return false;
  }
  std::string folder = path;
  std::size_t slash = folder.rfind('/');
  folder = slash == std::string::npos ? "."
           : slash == 0               ? "/"
                                      : folder.substr(0, slash);
  // The effective ids decide, as they decide the writes that follow.
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 &&
         faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

Status MakeFileWritable(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Fail("lstat", path);
  if (S_ISLNK(st.st_mode)) {
    errno = ELOOP;
    return Fail("chmod", path);
  }
  // A folder must also be listable and searchable to be emptied.
  mode_t wanted = S_ISDIR(st.st_mode) ? S_IRWXU : S_IWUSR;
  if ((st.st_mode & wanted) == wanted) return Status();
  if (chmod(path.c_str(), (st.st_mode & 07777) | wanted) != 0) {
    return Fail("chmod", path);
  }
  return Status();
}

Status GetFileTime(const std::string& path, FileTime* time) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Fail("lstat", path);
  time->seconds = st.st_mtim.tv_sec;
  time->nanoseconds = st.st_mtim.tv_nsec;
  return Status();
}

Status SetFileTime(const std::string& path, const FileTime& time) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(time.seconds);
  times[1].tv_nsec = static_cast<long>(time.nanoseconds);
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    return Fail("utimensat", path);
  }
  return Status();
}

Status RemoveEmptyFolder(const std::string& path) {
  if (rmdir(path.c_str()) != 0) return Fail("rmdir", path);
  return Status();
}

Status EraseFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return Fail("unlink", path);
  }
  if (unlink(path.c_str()) != 0) return Fail("unlink", path);
  return Status();
}

Status RenameFile(const std::string& source, const std::string& destination) {
  if (rename(source.c_str(), destination.c_str()) != 0) {
    return Fail("rename", source + " -> " + destination);
  }
  return Status();
}

bool IsRootFolder(const std::string& path) {
  if (path.empty()) return false;
  return path.find_first_not_of('/') == std::string::npos;
}

std::string GetCurrentFolder() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof(buffer)) == nullptr) return std::string();
  return buffer;
}

Status FreeSpaceAt(const std::string& path, std::int64_t* bytes) {
  struct statvfs st;
  if (statvfs(path.c_str(), &st) != 0) return Fail("statvfs", path);
  *bytes = static_cast<std::int64_t>(st.f_bavail) *
           static_cast<std::int64_t>(st.f_frsize);
  return Status();
}

void RaiseDescriptorLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
      limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace zavo
