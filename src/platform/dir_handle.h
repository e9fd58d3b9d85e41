// Folders and files held open, and the work done inside a held folder by
// names relative to it.
//
// Anyone who can write in a folder can rename what is in it and put a link
// in its place between two calls. A held folder keeps meaning the folder
// that was opened: every name handed to it is resolved below it, never
// through a link and never out of it by "..", and a name checked once is
// not looked up again where the answer matters (the caller keeps the open
// file instead). On POSIX a handle is a descriptor and every call is one of
// the *at() family; on Win32 it is the path, and the calls work by path as
// the rest of the Win32 build does.

#ifndef ZAVO_PLATFORM_DIR_HANDLE_H_
#define ZAVO_PLATFORM_DIR_HANDLE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/process.h"
#include "text/status.h"

namespace zavo {

// Which file an entry is: its device and inode on POSIX. Zero where the
// platform does not tell (Win32); two unknown identities never match.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool known() const { return inode != 0; }
  bool operator==(const FileIdentity& other) const {
    return known() && device == other.device && inode == other.inode;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// What an entry is, read without following a link.
struct EntryStatus {
  enum class Kind { kMissing, kFile, kFolder, kLink, kOther };
  Kind kind = Kind::kMissing;
  FileIdentity identity;
  std::uint32_t mode = 0;  // permission bits (07777) on POSIX, else 0
  // Read-only: no write permission for the owner on POSIX, the attribute on
  // Win32. Such an archive is never removed, such a file never replaced.
  bool read_only = false;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::int64_t size = 0;
  // POSIX: the modification time to the nanosecond and the count of names
  // (hard links) the entry has. Win32: zero.
  std::int64_t modified_seconds = 0;
  std::int64_t modified_nanoseconds = 0;
  std::uint64_t links = 0;
};

// What HeldFile::NextRegion looks for: the next byte that holds data, or
// the next hole (the end counts as one).
enum class FileRegion { kData, kHole };

// What a folder named as a work folder is to a run that meets it.
enum class LeftoverCheck {
  kLive,      // a live run holds it: its claim, or a run at work inside it
  kUnproven,  // nothing proves that this user's zavo made it
  kProven,    // this user's zavo made it, and no live run holds it
};

// One open file. Closed when destroyed; move-only.
class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile();
  HeldFile(HeldFile&& other) noexcept;
  HeldFile& operator=(HeldFile&& other) noexcept;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool is_open() const;
  void Close();
  // The path the file was opened by, for messages.
  const std::string& path() const { return path_; }

  // Reads up to `size` bytes at `offset`, leaving the file's position as it
  // is: *got is the count read, fewer than `size` only at the end.
  Status ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                std::size_t* got) const;
  // Writes all of `size` bytes; fails when any could not be written.
  Status Write(const char* data, std::size_t size);
  // Where the next `region` starts at or after `offset` (lseek's SEEK_DATA
  // and SEEK_HOLE), in *at. Fails at or past the end, and where the system
  // cannot tell (Win32, file systems without holes answer "the end").
  Status NextRegion(std::uint64_t offset, FileRegion region,
                    std::uint64_t* at) const;

  // The open file's own status (fstat): never another file's.
  Status Stat(EntryStatus* status) const;
  // The file's modification time.
  Status Time(FileTime* time) const;
  // Writes the file's data through to the disk.
  Status Sync();
  // Sets the permission bits exactly, whatever the umask (fchmod).
  Status SetMode(std::uint32_t mode);
  // Gives the file an owner and group (fchown); only a privileged process
  // may give it away, any owner may pick one of its own groups.
  Status SetOwner(std::uint32_t owner, std::uint32_t group);
  Status SetTime(const FileTime& time);

  // A name by which a child that is handed this file (ChildSpec::inherit:
  // handle()) reads this very file, not whatever the original name leads
  // to by then: "/dev/fd/N" on POSIX; on Win32 the path itself.
  std::string ChildPath() const;
  // The system's handle (POSIX descriptor), for ChildSpec; -1 when closed
  // and on Win32.
  std::intptr_t handle() const;

 private:
  friend class HeldFolder;
  int fd_ = -1;
  std::string path_;
};

// One held folder. Closed when destroyed; move-only. Names given to the
// calls below are single names inside the folder unless a call says it
// takes a relative path.
class HeldFolder {
 public:
  HeldFolder() = default;
  ~HeldFolder();
  HeldFolder(HeldFolder&& other) noexcept;
  HeldFolder& operator=(HeldFolder&& other) noexcept;
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;

  // Opens the folder at `path` as the user named it, links in it followed:
  // the top of the user's own mask, or a folder of zavo's own outside the
  // tree. Folders found below it are opened with OpenFolder. Fails when it
  // is no folder or cannot be opened.
  static Status Open(const std::string& path, HeldFolder* folder);
  // Holds the folder a parent process handed this one as the descriptor
  // `handle` (POSIX; it must be an open folder), shown as `path`.
  static Status Adopt(std::intptr_t handle, const std::string& path,
                      HeldFolder* folder);
  // A second hold on the same folder, independent of this one.
  Status Duplicate(HeldFolder* folder) const;

  bool is_open() const;
  void Close();
  // The path the folder was opened by (with a final separator), for
  // messages and for the Win32 calls. It may no longer lead to the folder.
  const std::string& path() const { return path_; }

  // Opens a folder below this one by a relative path ("a/b"). No part may
  // be a link, "..", empty at the start (an absolute path) or lead out.
  Status OpenFolder(const std::string& relative, HeldFolder* folder) const;
  // Opens a file below this one for reading by a relative path, with the
  // same rules; the last part must not be a link either. A pipe or device
  // is opened without waiting for a writer; the caller checks the kind.
  Status OpenFile(const std::string& relative, HeldFile* file) const;
  // Creates a new file `name` for writing with the permission bits `mode`
  // (exactly, the umask does not apply); fails when any entry of that name
  // exists, a link included.
  Status NewFile(const std::string& name, std::uint32_t mode,
                 HeldFile* file) const;
  // Creates a new folder `name` and holds it in *folder. It gets the bits
  // `mode` exactly and, on POSIX, is checked to be this process's own
  // folder when opened. Fails when anything of that name exists; *exists
  // then is true.
  Status NewFolder(const std::string& name, std::uint32_t mode,
                   HeldFolder* folder, bool* exists) const;

  // Makes a symbolic link `name` here that points to `target`. Fails where
  // the platform has none (Win32) or the name exists.
  Status MakeLink(const std::string& name, const std::string& target);

  // The status of the entry `name`, not following a link. Succeeds with
  // kind kMissing when there is no such entry; fails on other errors.
  Status Stat(const std::string& name, EntryStatus* status) const;
  // The target the link `name` holds, exactly as stored. Fails when it is
  // no link or cannot be read. Win32 does not read link targets: success
  // with an empty target.
  Status ReadLink(const std::string& name, std::string* target) const;
  // The status of the held folder itself.
  Status SelfStat(EntryStatus* status) const;
  // Sets the held folder's own permission bits exactly.
  Status SetMode(std::uint32_t mode);
  // Writes the folder's entries (names made or removed) through to disk.
  Status Sync();
  // The space left on the folder's file system for this user: bytes, and
  // entries (inodes; -1 where the system does not count them).
  Status FreeSpace(std::int64_t* bytes, std::int64_t* entries) const;

  // Claims the held folder as a live run's work folder for as long as it
  // stays open here, and only then marks it as made by zavo for this very
  // folder. On POSIX the claim is a read lock of the open descriptor (an
  // OFD lock, dropped with the process however it ends, apart from the
  // flock a run takes on the folder it converts in), and the mark is the
  // extended attribute "user.zavo.work" holding the folder's device, inode
  // and birth time, which no copy of the folder made by unpacking matches.
  // Fails when the claim cannot be taken; a file system without user
  // attributes or birth times gets the claim alone. Claiming again writes
  // the mark again. Win32: fails, nothing done.
  Status ClaimWork();
  // Looks at a held folder named as a work folder that a run met: whether
  // a live run holds it, or else whether this user's zavo provably made it
  // (a folder owned by the effective user, that nobody else may write in,
  // with the mark that matches it).
  // On kProven the held folder keeps an exclusive lock until it is closed,
  // so that a nested run cannot start in it and no other run that met it
  // acts on it too. Win32: kUnproven.
  LeftoverCheck CheckLeftover();

  // The entries of the folder ("." and ".." left out) with their kinds
  // (kAttrFolder, kAttrLink, kAttrHidden, kAttrReadOnly) and inodes. With
  // `kinds_only`, an entry is not queried where the folder itself tells its
  // kind: kAttrReadOnly may then be missing, and an entry that vanishes
  // meanwhile may still be listed.
  Status List(std::vector<DirEntry>* entries, bool kinds_only = false) const;

  // Removes the file or link `name`, never a folder.
  Status Unlink(const std::string& name);
  // Removes `name` with everything in it when it is a folder (or only the
  // entry itself when it is not). Sub-folders are opened below this folder,
  // never through a link, so a folder renamed or swapped for a link
  // meanwhile leads nowhere outside; however deep the tree, only a few
  // descriptors are open at once (one for every eighth level). Folders
  // without permissions for their owner are opened up first. Succeeds when
  // `name` is gone afterwards.
  Status RemoveTree(const std::string& name);
  // Removes everything inside the held folder, as RemoveTree does.
  Status RemoveChildren();
  // Removes the folder `name` only if it is empty (never what is in it).
  Status RemoveEmptyFolder(const std::string& name);
  // Renames `name` here to `to_name` in `to`. With `replace` false the call
  // fails (*taken set when given) when `to_name` exists at that moment.
  Status Rename(const std::string& name, const HeldFolder& to,
                const std::string& to_name, bool replace,
                bool* taken = nullptr);

  // A path that leads a child that is handed this folder (ChildSpec::
  // inherit: handle()) to this very folder: "/dev/fd/N" on POSIX; the path
  // on Win32.
  std::string ChildPath() const;
  // The system's handle (POSIX descriptor); -1 when closed and on Win32.
  std::intptr_t handle() const;
  // Makes `launch` start its child in this folder: through the descriptor on
  // POSIX, by its path on Win32.
  void StartChildHere(ChildSpec* launch) const;

 private:
  int fd_ = -1;
  std::string path_;
};

// Tests: whether the POSIX calls may use openat2(); the component-by-
// component fallback is used when not (or when the kernel lacks it).
void UseOpenat2(bool use);

}  // namespace zavo

#endif  // ZAVO_PLATFORM_DIR_HANDLE_H_
