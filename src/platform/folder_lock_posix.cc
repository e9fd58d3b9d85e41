#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/folder_lock.h"

namespace zavo {

namespace {

Status Fail(const char* what, const std::string& name) {
  int code = errno;
  return Status::Error(
      std::string(what) + "(" + name + "): " + std::strerror(code), code);
}

bool TryFlock(int fd) {
  int done;
  do {
    done = flock(fd, LOCK_EX | LOCK_NB);
  } while (done != 0 && errno == EINTR);
  return done == 0;
}

// This user's own folder of locks: made private, and used only when it is
// a folder of this user's that nobody else may enter.
int OwnLockFolder(Status* error) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime != nullptr && runtime[0] == '/'
                           ? std::string(runtime) + "/zavo-locks"
                           : "/tmp/zavo-locks-" + std::to_string(geteuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = Fail("mkdir", folder);
    return -1;
  }
  int fd = open(folder.c_str(),
                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = Fail("open", folder);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0) {
    errno = EPERM;
    *error = Fail("open", folder + " (not this user's private folder)");
    close(fd);
    return -1;
  }
  return fd;
}

// The processes /proc/locks names as holding a flock on the file of
// `device` and `inode`; false when that cannot be told.
bool FlockHolders(dev_t device, ino_t inode, std::vector<long>* pids) {
  std::ifstream locks("/proc/locks");
  if (!locks) return false;
  char wanted[64];
  std::snprintf(wanted, sizeof(wanted), "%02x:%02x:%lu", major(device),
                minor(device), static_cast<unsigned long>(inode));
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream words(line);
    std::string number, kind, advisory, mode, pid, file;
    words >> number >> kind;
    if (kind != "FLOCK") continue;  // other kinds, and waiters ("->")
    words >> advisory >> mode >> pid >> file;
    if (file == wanted) pids->push_back(std::strtol(pid.c_str(), nullptr, 10));
  }
  return true;
}

// The effective user and group and the groups of process `pid`.
bool ProcessIds(long pid, std::uint32_t* uid, std::uint32_t* gid,
                std::string* groups) {
  if (pid <= 0) return false;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  bool have_uid = false, have_gid = false;
  while (std::getline(status, line)) {
    std::istringstream words(line);
    std::string key;
    unsigned long real = 0, effective = 0;
    words >> key;
    if (key == "Uid:" && (words >> real >> effective)) {
      *uid = static_cast<std::uint32_t>(effective);
      have_uid = true;
    } else if (key == "Gid:" && (words >> real >> effective)) {
      *gid = static_cast<std::uint32_t>(effective);
      have_gid = true;
    } else if (key == "Groups:") {
      *groups = line.substr(key.size());
    }
  }
  return have_uid && have_gid;
}

}  // namespace

bool MayWriteFolder(std::uint32_t uid, std::uint32_t gid,
                    const std::string& groups, std::uint32_t owner,
                    std::uint32_t group, std::uint32_t mode) {
  if (uid == 0 || uid == owner || (mode & S_IWOTH) != 0) return true;
  if ((mode & S_IWGRP) == 0) return false;
  if (gid == group) return true;
  std::istringstream words(groups);
  unsigned long member;
  while (words >> member) {
    if (member == group) return true;
  }
  return false;
}

std::unique_ptr<FolderLock> FolderLock::Take(const HeldFolder& folder,
                                             Outcome* outcome, Status* error,
                                             std::string* note) {
  note->clear();
  *outcome = Outcome::kError;
  struct stat st;
  const int folder_fd = static_cast<int>(folder.handle());
  if (fstat(folder_fd, &st) != 0) {
    *error = Fail("fstat", folder.path());
    return nullptr;
  }
  // Ours first: no other user can take it from us.
  int own_folder = OwnLockFolder(error);
  if (own_folder < 0) return nullptr;
  char name[64];
  std::snprintf(name, sizeof(name), "%llx-%llx",
                static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  int own =
      openat(own_folder, name,
             O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  close(own_folder);
  if (own < 0) {
    *error = Fail("openat", name);
    return nullptr;
  }
  if (!TryFlock(own)) {
    *outcome = errno == EWOULDBLOCK ? Outcome::kBusy : Outcome::kError;
    *error = Fail("flock", name);
    close(own);
    return nullptr;
  }
  // Then the folder's own, which runs of other users take too.
  int shared = fcntl(folder_fd, F_DUPFD_CLOEXEC, 3);
  if (shared < 0) {
    *error = Fail("fcntl(F_DUPFD_CLOEXEC)", folder.path());
    close(own);
    return nullptr;
  }
  if (!TryFlock(shared)) {
    if (errno != EWOULDBLOCK) {
      *error = Fail("flock", folder.path());
      close(own);
      close(shared);
      return nullptr;
    }
    // Held by someone. A holder that may write in the folder may be a run
    // converting there; one that may not could never convert there, and
    // does not stop this run.
    std::vector<long> pids;
    bool known = FlockHolders(st.st_dev, st.st_ino, &pids) && !pids.empty();
    std::string strangers;
    for (long pid : pids) {
      std::uint32_t uid = 0, gid = 0;
      std::string groups;
      if (!ProcessIds(pid, &uid, &gid, &groups) ||
          MayWriteFolder(uid, gid, groups, st.st_uid, st.st_gid, st.st_mode)) {
        known = false;
        break;
      }
      strangers += (strangers.empty() ? "" : ", ") + std::to_string(uid);
    }
    close(shared);
    if (!known) {
      *outcome = Outcome::kBusy;
      close(own);
      return nullptr;
    }
    *note = "folder [" + folder.path() + "] is locked by user " + strangers +
            ", who may not write in it: the lock is passed over";
    shared = -1;
  }
  *outcome = Outcome::kTaken;
  return std::unique_ptr<FolderLock>(new FolderLock(own, shared));
}

FolderLock::~FolderLock() {
  // The folder's lock goes first: a run of another user that finds it free
  // must not find this user's own still taken for long.
  if (shared_ >= 0) close(static_cast<int>(shared_));
  if (own_ >= 0) close(static_cast<int>(own_));
}

}  // namespace zavo
