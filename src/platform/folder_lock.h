// An advisory lock on a folder, so that two runs never convert in one
// folder at once. Only runs of this program look at it; it binds nobody
// else.
//
// On POSIX it is two locks. One lives in a folder of this user's own
// (under XDG_RUNTIME_DIR, else /tmp/zavo-locks-UID), named by the folder's
// device and inode: nobody else can take it, so runs of one user always
// keep apart. The other is a flock on the folder itself, which keeps runs
// of different users apart; since anyone who can open a folder can flock
// it, such a lock held only by users who may not write in the folder (who
// could not convert there) is passed over. On Win32 it is a hidden file in
// the folder, opened unshared.

#ifndef ZAVO_PLATFORM_FOLDER_LOCK_H_
#define ZAVO_PLATFORM_FOLDER_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/dir_handle.h"
#include "text/status.h"

namespace zavo {

class FolderLock {
 public:
  enum class Outcome {
    kTaken,  // this run holds the folder
    kBusy,   // another run holds it
    kError,  // the folder could not be locked (a file system without
             // locks); the status says why
  };

  // Tries once, without waiting, to lock the held `folder`. The lock is
  // held until the object is destroyed, or until the process ends,
  // whichever comes first. *note, when not empty afterwards, is a line for
  // standard error (a lock passed over, and whose).
  static std::unique_ptr<FolderLock> Take(const HeldFolder& folder,
                                          Outcome* outcome, Status* error,
                                          std::string* note);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  FolderLock(std::intptr_t own, std::intptr_t shared)
      : own_(own), shared_(shared) {}
  std::intptr_t own_;
  std::intptr_t shared_;
};

// POSIX, for tests: whether a user with effective ids `uid` and `gid` and
// supplementary groups `groups` may write in a folder of `owner`, `group`
// and permission bits `mode`, as the folder lock asks it of a lock's holder.
bool MayWriteFolder(std::uint32_t uid, std::uint32_t gid,
                    const std::string& groups, std::uint32_t owner,
                    std::uint32_t group, std::uint32_t mode);

}  // namespace zavo

#endif  // ZAVO_PLATFORM_FOLDER_LOCK_H_
