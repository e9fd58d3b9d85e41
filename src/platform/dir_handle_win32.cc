// Win32 held folders: the folder is its path, and every call works by path
// through the layer's own file services, as the rest of the Win32 build
// does. Files are C runtime descriptors, so that their data can be flushed.
// They are opened _O_NOINHERIT: children start with every inheritable handle
// (process_win32.cc), and a file one job holds, inherited by another job's
// archiver, would keep its archive from being renamed or removed until that
// archiver ends.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/dir_handle.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

Status FailErrno(const char* what, const std::string& name) {
  int code = errno;
  return Status::Error(
      std::string(what) + "(" + name + "): " + std::strerror(code), code,
      code == ENOENT);
}

Status Refuse(const char* what, const std::string& name,
              const char* why = "not a plain name") {
  return Status::Error(std::string(what) + "(" + name + "): " + why);
}

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string::npos;
}

// A relative path whose parts are plain names and no link: the Win32 form
// of "beneath, no links".
// The path of relative below top, without its "." parts: a path-based
// system shows this path to the archivers and in messages.
std::string JoinBeneath(const std::string& top, const std::string& relative) {
  std::string path = top;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = relative.find_first_of("\\/", start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    if (!part.empty() && part != ".") {
      if (!path.empty() && path.back() != '\\') path += '\\';
      path += part;
    }
    if (end >= relative.size()) break;
    start = end + 1;
  }
  return path;
}

bool StaysBeneath(const std::string& top, const std::string& relative) {
  if (relative.empty() || relative[0] == '\\' || relative[0] == '/') {
    return false;
  }
  std::string path = top;
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t end = relative.find_first_of("\\/", start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (!IsPlainName(part)) return false;
    path += part;
    FileAttributes a;
    if (GetFileAttributes(path, &a).ok() && (a.bits & kAttrLink) != 0) {
      return false;
    }
    path += '\\';
  }
  return true;
}

void StatusFromAttributes(const FileAttributes& a, EntryStatus* status) {
  status->read_only = (a.bits & kAttrReadOnly) != 0;
  if ((a.bits & kAttrLink) != 0) {
    status->kind = EntryStatus::Kind::kLink;
  } else if ((a.bits & kAttrFolder) != 0) {
    status->kind = EntryStatus::Kind::kFolder;
  } else {
    status->kind = EntryStatus::Kind::kFile;
  }
}

bool RemovePath(const std::string& path) {
  FileAttributes a;
  if (!GetFileAttributes(path, &a).ok()) return true;
  if ((a.bits & kAttrFolder) == 0) {
    MakeFileWritable(path);
    return EraseFile(path).ok() || !GetFileAttributes(path, &a).ok();
  }
  MakeFileWritable(path);
  std::vector<DirEntry> entries;
  std::unique_ptr<DirectoryListing> listing;
  if (ListFolder(path + "\\*.*", &listing).ok()) {
    DirEntry entry;
    while (listing->Next(&entry)) entries.push_back(entry);
  }
  listing.reset();
  for (const DirEntry& entry : entries) {
    if (entry.attributes != kAttrVolume) RemovePath(path + "\\" + entry.name);
  }
  RemoveEmptyFolder(path);
  return !GetFileAttributes(path, &a).ok();
}

}  // namespace

void UseOpenat2(bool) {}

// ---- HeldFile ----------------------------------------------------------

HeldFile::~HeldFile() { Close(); }

HeldFile::HeldFile(HeldFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

bool HeldFile::is_open() const { return fd_ >= 0; }

void HeldFile::Close() {
  if (fd_ >= 0) _close(fd_);
  fd_ = -1;
}

Status HeldFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                        std::size_t* got) const {
  // The C runtime has no pread: a second descriptor of our own reads at the
  // offset, so this one's position stays where it is.
  *got = 0;
  int fd = _open(path_.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return FailErrno("open", path_);
  Status result;
  if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) {
    result = FailErrno("lseek", path_);
  }
  while (result.ok() && *got < size) {
    std::size_t left = size - *got;
    unsigned chunk =
        left > 0x40000000u ? 0x40000000u : static_cast<unsigned>(left);
    int n = _read(fd, buffer + *got, chunk);
    if (n < 0) result = FailErrno("read", path_);
    if (n <= 0) break;
    *got += static_cast<std::size_t>(n);
  }
  _close(fd);
  return result;
}

Status HeldFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    unsigned chunk =
        size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
    int put = _write(fd_, data, chunk);
    if (put <= 0) return FailErrno("write", path_);
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return Status();
}

Status HeldFile::NextRegion(std::uint64_t, FileRegion, std::uint64_t*) const {
  return Status::Error("lseek(" + path_ + "): no holes to look for here");
}

Status HeldFile::Stat(EntryStatus* status) const {
  *status = EntryStatus();
  struct _stat64 st;
  if (_fstat64(fd_, &st) != 0) return FailErrno("fstat", path_);
  status->kind = (st.st_mode & _S_IFREG) != 0 ? EntryStatus::Kind::kFile
                                              : EntryStatus::Kind::kOther;
  status->size = st.st_size;
  status->read_only = (st.st_mode & _S_IWRITE) == 0;
  return Status();
}

Status HeldFile::Time(FileTime* time) const { return GetFileTime(path_, time); }

Status HeldFile::Sync() {
  if (_commit(fd_) == 0) return Status();
  // Windows flushes only through a handle that may write, and this one may
  // have been opened for reading (the packer wrote the file): flush through
  // a writable one.
  int fd = _open(path_.c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return FailErrno("open", path_);
  Status result = _commit(fd) == 0 ? Status() : FailErrno("commit", path_);
  _close(fd);
  return result;
}

Status HeldFile::SetMode(std::uint32_t) { return Status(); }

Status HeldFile::SetOwner(std::uint32_t, std::uint32_t) { return Status(); }

Status HeldFile::SetTime(const FileTime& time) {
  return SetFileTime(path_, time);
}

std::string HeldFile::ChildPath() const { return path_; }

std::intptr_t HeldFile::handle() const { return -1; }

// ---- HeldFolder --------------------------------------------------------

HeldFolder::~HeldFolder() { Close(); }

HeldFolder::HeldFolder(HeldFolder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

HeldFolder& HeldFolder::operator=(HeldFolder&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

Status HeldFolder::Open(const std::string& path, HeldFolder* folder) {
  std::string bare = NoTrailingBackslash(path);
  if (bare.empty() || (bare.size() == 2 && bare[1] == ':')) bare += ".";
  FileAttributes a;
  Status looked = GetFileAttributes(bare, &a);
  if (!looked.ok()) return looked;
  if ((a.bits & kAttrFolder) == 0) return Refuse("open", path, "not a folder");
  folder->fd_ = 0;
  // Held by its full path, so that what the archivers are given and what
  // they print names the folder whatever their own current folder.
  char full[4096];
  if (_fullpath(full, bare.c_str(), sizeof(full)) != nullptr) {
    folder->path_ = WithBackslash(full);
  } else {
    folder->path_ = WithBackslash(path.empty() ? std::string(".") : path);
  }
  return Status();
}

Status HeldFolder::Adopt(std::intptr_t, const std::string& path,
                         HeldFolder* folder) {
  return Open(path, folder);
}

Status HeldFolder::Duplicate(HeldFolder* folder) const {
  folder->fd_ = fd_;
  folder->path_ = path_;
  return Status();
}

bool HeldFolder::is_open() const { return fd_ >= 0; }

void HeldFolder::Close() { fd_ = -1; }

Status HeldFolder::OpenFolder(const std::string& relative,
                              HeldFolder* folder) const {
  if (!StaysBeneath(path_, relative)) {
    return Refuse("open", JoinBeneath(path_, relative),
                  "leads out of the folder");
  }
  return Open(JoinBeneath(path_, relative), folder);
}

Status HeldFolder::OpenFile(const std::string& relative, HeldFile* file) const {
  if (!StaysBeneath(path_, relative)) {
    return Refuse("open", JoinBeneath(path_, relative),
                  "leads out of the folder");
  }
  std::string path = JoinBeneath(path_, relative);
  int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return FailErrno("open", path);
  file->Close();
  file->fd_ = fd;
  file->path_ = path;
  return Status();
}

Status HeldFolder::NewFile(const std::string& name, std::uint32_t,
                           HeldFile* file) const {
  if (!IsPlainName(name)) return Refuse("open", path_ + name);
  std::string path = path_ + name;
  int fd = _open(path.c_str(),
                 _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
  if (fd < 0) return FailErrno("open", path);
  file->Close();
  file->fd_ = fd;
  file->path_ = path;
  return Status();
}

Status HeldFolder::NewFolder(const std::string& name, std::uint32_t,
                             HeldFolder* folder, bool* exists) const {
  if (exists != nullptr) *exists = false;
  if (!IsPlainName(name)) return Refuse("CreateDirectory", path_ + name);
  std::string path = path_ + name;
  FileAttributes a;
  if (GetFileAttributes(path, &a).ok()) {
    if (exists != nullptr) *exists = true;
    return Refuse("CreateDirectory", path, "the name exists");
  }
  Status made = MakeFolder(path);
  if (!made.ok()) return made;
  return Open(path, folder);
}

Status HeldFolder::MakeLink(const std::string& name, const std::string&) {
  return Refuse("link", path_ + name, "not made on this platform");
}

Status HeldFolder::Stat(const std::string& name, EntryStatus* status) const {
  *status = EntryStatus();
  FileAttributes a;
  if (GetFileAttributes(path_ + name, &a).ok()) StatusFromAttributes(a, status);
  return Status();
}

Status HeldFolder::ReadLink(const std::string& name,
                            std::string* target) const {
  EntryStatus status;
  if (!Stat(name, &status).ok() || status.kind != EntryStatus::Kind::kLink) {
    return Refuse("ReadLink", path_ + name, "not a link");
  }
  target->clear();
  return Status();
}

Status HeldFolder::SelfStat(EntryStatus* status) const {
  *status = EntryStatus();
  FileAttributes a;
  Status looked = GetFileAttributes(NoTrailingBackslash(path_), &a);
  if (!looked.ok()) return looked;
  StatusFromAttributes(a, status);
  return Status();
}

Status HeldFolder::SetMode(std::uint32_t) { return Status(); }

Status HeldFolder::Sync() { return Status(); }

Status HeldFolder::FreeSpace(std::int64_t* bytes, std::int64_t* entries) const {
  *entries = -1;
  return FreeSpaceAt(path_, bytes);
}

// Folders are held by path here: no claim outlives a name, and nothing
// proves who made a folder, so a run that meets one only names it.
Status HeldFolder::ClaimWork() {
  return Refuse("claim", path_, "not on this platform");
}

LeftoverCheck HeldFolder::CheckLeftover() { return LeftoverCheck::kUnproven; }

Status HeldFolder::List(std::vector<DirEntry>* entries, bool) const {
  entries->clear();
  std::unique_ptr<DirectoryListing> listing;
  Status opened = ListFolder(path_ + "*.*", &listing);
  if (!opened.ok()) return opened;
  DirEntry entry;
  while (listing->Next(&entry)) entries->push_back(entry);
  return listing->error();
}

Status HeldFolder::Unlink(const std::string& name) {
  if (!IsPlainName(name)) return Refuse("DeleteFile", path_ + name);
  MakeFileWritable(path_ + name);
  return EraseFile(path_ + name);
}

Status HeldFolder::RemoveTree(const std::string& name) {
  if (!IsPlainName(name)) return Refuse("RemoveDirectory", path_ + name);
  if (RemovePath(path_ + name)) return Status();
  return Refuse("RemoveDirectory", path_ + name, "some entries stayed");
}

Status HeldFolder::RemoveChildren() {
  std::vector<DirEntry> entries;
  Status listed = List(&entries);
  if (!listed.ok()) return listed;
  Status result;
  for (const DirEntry& entry : entries) {
    if (entry.attributes != kAttrVolume && !RemovePath(path_ + entry.name) &&
        result.ok()) {
      result =
          Refuse("RemoveDirectory", path_ + entry.name, "some entries stayed");
    }
  }
  return result;
}

Status HeldFolder::RemoveEmptyFolder(const std::string& name) {
  if (!IsPlainName(name)) return Refuse("RemoveDirectory", path_ + name);
  return zavo::RemoveEmptyFolder(path_ + name);
}

Status HeldFolder::Rename(const std::string& name, const HeldFolder& to,
                          const std::string& to_name, bool replace,
                          bool* taken) {
  if (taken != nullptr) *taken = false;
  std::string source = path_ + name;
  std::string destination = to.path_ + to_name;
  FileAttributes a;
  if (!replace && GetFileAttributes(destination, &a).ok()) {
    if (taken != nullptr) *taken = true;
    return Refuse("MoveFileEx", source + " -> " + destination, "exists");
  }
  return RenameFile(source, destination);
}

std::string HeldFolder::ChildPath() const { return NoTrailingBackslash(path_); }

std::intptr_t HeldFolder::handle() const { return -1; }

void HeldFolder::StartChildHere(ChildSpec* launch) const {
  launch->folder = -1;
  launch->folder_path = NoTrailingBackslash(path_);
}

}  // namespace zavo
