// POSIX file services. Attributes map onto the mode: read-only is a missing
// owner write bit, a folder is a directory, names beginning with "." are
// hidden, and there are no volume labels or system files. Links are reported
// as links (lstat), never as what they point to.

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file_system.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

thread_local std::string last_error;

void Remember(const char* what, const std::string& path) {
  last_error = std::string(what) + "(" + path + "): " + std::strerror(errno);
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

// The kind bits of an entry as its folder tells them, without a query of
// the entry; false when the file system does not say.
bool BitsFromType(unsigned char type, const std::string& name,
                  std::uint32_t* bits) {
  switch (type) {
    case DT_UNKNOWN:
      return false;
    case DT_LNK:
      *bits = kAttrLink;
      break;
    case DT_DIR:
      *bits = kAttrFolder;
      break;
    default:
      *bits = kAttrArchive;
      break;
  }
  if (!name.empty() && name[0] == '.') *bits |= kAttrHidden;
  return true;
}

class PosixListing : public DirectoryListing {
 public:
  PosixListing(DIR* dir, std::string folder, std::string mask, bool kinds_only)
      : dir_(dir),
        folder_(std::move(folder)),
        mask_(std::move(mask)),
        kinds_only_(kinds_only) {}
  ~PosixListing() override { closedir(dir_); }

  bool Next(DirEntry* entry) override {
    for (;;) {
      errno = 0;
      struct dirent* d = readdir(dir_);
      if (d == nullptr) return false;
      std::string name = d->d_name;
      if (name == "." || name == "..") continue;
      if (!MatchesMask(mask_, name)) continue;
      std::uint32_t bits = 0;
      if (!kinds_only_ || !BitsFromType(d->d_type, name, &bits)) {
        struct stat st;
        if (fstatat(dirfd(dir_), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          continue;  // vanished since readdir
        }
        bits = BitsFromStat(st, name);
      }
      entry->name = name;
      entry->attributes = bits;
      entry->inode = static_cast<std::uint64_t>(d->d_ino);
      return true;
    }
  }

 private:
  DIR* dir_;
  std::string folder_;
  std::string mask_;
  bool kinds_only_;
};

std::unique_ptr<DirectoryListing> OpenListing(const std::string& pattern,
                                              bool kinds_only) {
  std::string folder = PathFolder(pattern);
  std::string mask = PathFileName(pattern);
  if (folder.empty()) folder = ".";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    Remember("opendir", folder);
    return nullptr;
  }
  return std::unique_ptr<DirectoryListing>(
      new PosixListing(dir, folder, mask, kinds_only));
}

}  // namespace

bool GetFileAttributes(const std::string& path, FileAttributes* attributes) {
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0) {
    Remember("lstat", path);
    return false;
  }
  attributes->bits = BitsFromStat(st, PathFileName(NoTrailingBackslash(path)));
  attributes->native = static_cast<std::uint32_t>(st.st_mode & 07777);
  return true;
}

bool RestoreFileAttributes(const std::string& path,
                           const FileAttributes& attributes) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    Remember("lstat", path);
    return false;
  }
  if (S_ISLNK(st.st_mode)) return false;
  if ((st.st_mode & 07777) == attributes.native) return true;
  if (chmod(path.c_str(), static_cast<mode_t>(attributes.native)) != 0) {
    Remember("chmod", path);
    return false;
  }
  return true;
}

std::int64_t FileByteSize(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
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

bool MakeFileWritable(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    Remember("lstat", path);
    return false;
  }
  if (S_ISLNK(st.st_mode)) return false;
  // A folder must also be listable and searchable to be emptied.
  mode_t wanted = S_ISDIR(st.st_mode) ? S_IRWXU : S_IWUSR;
  if ((st.st_mode & wanted) == wanted) return true;
  if (chmod(path.c_str(), (st.st_mode & 07777) | wanted) != 0) {
    Remember("chmod", path);
    return false;
  }
  return true;
}

bool GetFileTime(const std::string& path, FileTime* time) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    Remember("lstat", path);
    return false;
  }
  time->seconds = st.st_mtim.tv_sec;
  time->nanoseconds = st.st_mtim.tv_nsec;
  return true;
}

bool SetFileTime(const std::string& path, const FileTime& time) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(time.seconds);
  times[1].tv_nsec = static_cast<long>(time.nanoseconds);
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    Remember("utimensat", path);
    return false;
  }
  return true;
}

std::unique_ptr<DirectoryListing> ListFolder(const std::string& pattern) {
  return OpenListing(pattern, false);
}

std::unique_ptr<DirectoryListing> ListFolderKinds(const std::string& pattern) {
  return OpenListing(pattern, true);
}

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) != 0) {
    Remember("mkdir", path);
    return false;
  }
  return true;
}

bool RemoveEmptyFolder(const std::string& path) {
  if (rmdir(path.c_str()) != 0) {
    Remember("rmdir", path);
    return false;
  }
  return true;
}

bool EraseFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    Remember("unlink", path);
    return false;
  }
  if (unlink(path.c_str()) != 0) {
    Remember("unlink", path);
    return false;
  }
  return true;
}

bool RenameFile(const std::string& source, const std::string& destination,
                bool* cross_device) {
  if (cross_device != nullptr) *cross_device = false;
  if (rename(source.c_str(), destination.c_str()) != 0) {
    if (errno == EXDEV && cross_device != nullptr) *cross_device = true;
    Remember("rename", source + " -> " + destination);
    return false;
  }
  return true;
}

bool IsRootFolder(const std::string& path) {
  if (path.empty()) return false;
  return path.find_first_not_of('/') == std::string::npos;
}

std::string GetCurrentFolder() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof(buffer)) == nullptr) {
    Remember("getcwd", ".");
    return std::string();
  }
  return buffer;
}

bool SetCurrentFolder(const std::string& path) {
  if (chdir(path.c_str()) != 0) {
    Remember("chdir", path);
    return false;
  }
  return true;
}

std::string LastSystemError() { return last_error; }

}  // namespace zavo
