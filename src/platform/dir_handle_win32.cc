// Win32 held folders: the folder is its path, and every call works by path
// through the layer's own file services, as the rest of the Win32 build
// does. Files are C runtime descriptors, so that their data can be flushed.

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

thread_local std::string last_error;

// The layer's file services have recorded the call and its error already.
bool Fail(const char*, const std::string&) {
  last_error = LastSystemError();
  return false;
}

bool FailErrno(const char* what, const std::string& name) {
  last_error = std::string(what) + "(" + name + "): " + std::strerror(errno);
  return false;
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
    if (GetFileAttributes(path, &a) && (a.bits & kAttrLink) != 0) return false;
    path += '\\';
  }
  return true;
}

void StatusFromAttributes(const FileAttributes& a, EntryStatus* status) {
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
  if (!GetFileAttributes(path, &a)) return true;
  if ((a.bits & kAttrFolder) == 0) {
    MakeFileWritable(path);
    return EraseFile(path) || !GetFileAttributes(path, &a);
  }
  MakeFileWritable(path);
  std::vector<DirEntry> entries;
  if (auto listing = ListFolder(path + "\\*.*")) {
    DirEntry entry;
    while (listing->Next(&entry)) entries.push_back(entry);
  }
  for (const DirEntry& entry : entries) {
    if (entry.attributes != kAttrVolume) RemovePath(path + "\\" + entry.name);
  }
  RemoveEmptyFolder(path);
  return !GetFileAttributes(path, &a);
}

}  // namespace

std::string LastHandleError() { return last_error; }

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

long long HeldFile::Read(char* buffer, std::size_t size) {
  unsigned chunk =
      size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
  int got = _read(fd_, buffer, chunk);
  if (got < 0) FailErrno("read", path_);
  return got;
}

bool HeldFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    unsigned chunk =
        size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
    int put = _write(fd_, data, chunk);
    if (put <= 0) return FailErrno("write", path_);
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

std::int64_t HeldFile::Seek(std::int64_t offset, SeekFrom from) {
  int whence;
  switch (from) {
    case SeekFrom::kStart:
      whence = SEEK_SET;
      break;
    case SeekFrom::kCurrent:
      whence = SEEK_CUR;
      break;
    case SeekFrom::kEnd:
      whence = SEEK_END;
      break;
    default:
      // No holes to look for.
      return -1;
  }
  long long at = _lseeki64(fd_, offset, whence);
  if (at < 0) FailErrno("lseek", path_);
  return at < 0 ? -1 : at;
}

bool HeldFile::Status(EntryStatus* status) const {
  *status = EntryStatus();
  struct _stat64 st;
  if (_fstat64(fd_, &st) != 0) return FailErrno("fstat", path_);
  status->kind = (st.st_mode & _S_IFREG) != 0 ? EntryStatus::Kind::kFile
                                              : EntryStatus::Kind::kOther;
  status->size = st.st_size;
  return true;
}

bool HeldFile::Sync() {
  if (_commit(fd_) == 0) return true;
  // Windows flushes only through a handle that may write, and this one may
  // have been opened for reading (the packer wrote the file): flush through
  // a writable one.
  int fd = _open(path_.c_str(), _O_RDWR | _O_BINARY);
  if (fd < 0) return FailErrno("open", path_);
  bool ok = _commit(fd) == 0;
  if (!ok) FailErrno("commit", path_);
  _close(fd);
  return ok;
}

bool HeldFile::SetMode(std::uint32_t) { return true; }

bool HeldFile::SetOwner(std::uint32_t, std::uint32_t) { return true; }

bool HeldFile::SetTime(const FileTime& time) {
  return SetFileTime(path_, time) || Fail("SetFileTime", path_);
}

std::string HeldFile::ChildPath() { return path_; }

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

bool HeldFolder::Open(const std::string& path, HeldFolder* folder) {
  std::string bare = NoTrailingBackslash(path);
  if (bare.empty() || (bare.size() == 2 && bare[1] == ':')) bare += ".";
  FileAttributes a;
  if (!GetFileAttributes(bare, &a)) return Fail("GetFileAttributes", path);
  if ((a.bits & kAttrFolder) == 0) {
    last_error = "open(" + path + "): not a folder";
    return false;
  }
  folder->fd_ = 0;
  // Held by its full path, so that what the archivers are given and what
  // they print names the folder whatever their own current folder.
  char full[4096];
  if (_fullpath(full, bare.c_str(), sizeof(full)) != nullptr) {
    folder->path_ = WithBackslash(full);
  } else {
    folder->path_ = WithBackslash(path.empty() ? std::string(".") : path);
  }
  return true;
}

bool HeldFolder::is_open() const { return fd_ >= 0; }

void HeldFolder::Close() { fd_ = -1; }

bool HeldFolder::OpenFolder(const std::string& relative,
                            HeldFolder* folder) const {
  if (!StaysBeneath(path_, relative)) {
    last_error =
        "open(" + JoinBeneath(path_, relative) + "): leads out of the folder";
    return false;
  }
  return Open(JoinBeneath(path_, relative), folder);
}

bool HeldFolder::OpenFile(const std::string& relative, HeldFile* file) const {
  if (!StaysBeneath(path_, relative)) {
    last_error =
        "open(" + JoinBeneath(path_, relative) + "): leads out of the folder";
    return false;
  }
  std::string path = JoinBeneath(path_, relative);
  int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0) return FailErrno("open", path);
  file->Close();
  file->fd_ = fd;
  file->path_ = path;
  return true;
}

bool HeldFolder::NewFile(const std::string& name, std::uint32_t,
                         HeldFile* file) const {
  if (!IsPlainName(name)) return FailErrno("open", path_ + name);
  std::string path = path_ + name;
  int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                 _S_IREAD | _S_IWRITE);
  if (fd < 0) return FailErrno("open", path);
  file->Close();
  file->fd_ = fd;
  file->path_ = path;
  return true;
}

bool HeldFolder::NewFolder(const std::string& name, std::uint32_t,
                           HeldFolder* folder, bool* exists) const {
  if (exists != nullptr) *exists = false;
  if (!IsPlainName(name)) return FailErrno("CreateDirectory", path_ + name);
  std::string path = path_ + name;
  FileAttributes a;
  if (GetFileAttributes(path, &a)) {
    if (exists != nullptr) *exists = true;
    last_error = "CreateDirectory(" + path + "): the name exists";
    return false;
  }
  if (!MakeFolder(path)) return Fail("CreateDirectory", path);
  return Open(path, folder);
}

bool HeldFolder::MakeLink(const std::string& name, const std::string&) {
  last_error = "link(" + path_ + name + "): not made on this platform";
  return false;
}

bool HeldFolder::Status(const std::string& name, EntryStatus* status) const {
  *status = EntryStatus();
  FileAttributes a;
  if (!GetFileAttributes(path_ + name, &a)) return true;
  StatusFromAttributes(a, status);
  return true;
}

bool HeldFolder::ReadLink(const std::string& name, std::string* target) const {
  EntryStatus status;
  if (!Status(name, &status) || status.kind != EntryStatus::Kind::kLink) {
    return Fail("ReadLink", path_ + name);
  }
  target->clear();
  return true;
}

bool HeldFolder::SelfStatus(EntryStatus* status) const {
  *status = EntryStatus();
  FileAttributes a;
  if (!GetFileAttributes(NoTrailingBackslash(path_), &a)) {
    return Fail("GetFileAttributes", path_);
  }
  StatusFromAttributes(a, status);
  return true;
}

bool HeldFolder::SetMode(std::uint32_t) { return true; }

bool HeldFolder::Sync() { return true; }

// Folders are held by path here: no claim outlives a name, and nothing
// proves who made a folder, so a run that meets one only names it.
bool HeldFolder::ClaimWork() { return false; }

LeftoverCheck HeldFolder::CheckLeftover() { return LeftoverCheck::kUnproven; }

bool HeldFolder::List(std::vector<DirEntry>* entries) const {
  entries->clear();
  auto listing = ListFolder(path_ + "*.*");
  if (listing == nullptr) return Fail("FindFirstFile", path_);
  DirEntry entry;
  while (listing->Next(&entry)) entries->push_back(entry);
  return true;
}

bool HeldFolder::Unlink(const std::string& name) {
  if (!IsPlainName(name)) return FailErrno("DeleteFile", path_ + name);
  MakeFileWritable(path_ + name);
  return EraseFile(path_ + name) || Fail("DeleteFile", path_ + name);
}

bool HeldFolder::RemoveTree(const std::string& name) {
  if (!IsPlainName(name)) return FailErrno("RemoveDirectory", path_ + name);
  return RemovePath(path_ + name) || Fail("RemoveDirectory", path_ + name);
}

bool HeldFolder::RemoveChildren() {
  std::vector<DirEntry> entries;
  if (!List(&entries)) return false;
  bool ok = true;
  for (const DirEntry& entry : entries) {
    if (entry.attributes != kAttrVolume && !RemovePath(path_ + entry.name)) {
      ok = false;
    }
  }
  return ok;
}

bool HeldFolder::RemoveEmptyFolder(const std::string& name) {
  if (!IsPlainName(name)) return FailErrno("RemoveDirectory", path_ + name);
  return zavo::RemoveEmptyFolder(path_ + name) ||
         Fail("RemoveDirectory", path_ + name);
}

bool HeldFolder::Rename(const std::string& name, const HeldFolder& to,
                        const std::string& to_name, bool replace, bool* taken) {
  if (taken != nullptr) *taken = false;
  std::string source = path_ + name;
  std::string destination = to.path_ + to_name;
  FileAttributes a;
  if (!replace && GetFileAttributes(destination, &a)) {
    if (taken != nullptr) *taken = true;
    last_error = "MoveFileEx(" + source + " -> " + destination + "): exists";
    return false;
  }
  bool cross_device = false;
  if (!RenameFile(source, destination, &cross_device)) {
    return Fail("MoveFileEx", source + " -> " + destination);
  }
  return true;
}

std::string HeldFolder::ChildPath() { return NoTrailingBackslash(path_); }

}  // namespace zavo
