// Win32 file services over kernel32's ANSI calls. The attribute bits of the
// layer are the platform's own, so they pass through; a reparse point
// (junction, symbolic link, mount point) is reported as a link and never as
// a folder, so that no tree removal or scan walks through it. File times are
// the packed local DOS date-time: date in the high 16 bits, time of day in
// the low 16 bits, in two-second steps.

#include <windows.h>

#include "platform/file_system.h"

// <windows.h> maps these names onto its ANSI functions; the layer's own
// declarations above must keep their names.
#undef GetFileAttributes

#include <string>
#include <vector>

#include "platform/error_text_win32.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// The failed call with the error code the platform left, which is read
// before anything else can change it.
Status Fail(const char* what, const std::string& path) {
  DWORD code = ::GetLastError();
  return Status::Error(
      std::string(what) + "(" + path + "): " + Win32ErrorText(code),
      static_cast<int>(code),
      code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND);
}

// The attributes SetFileAttributesA accepts; the others describe what an
// entry is and cannot be set that way.
constexpr DWORD kSettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::uint32_t BitsFromNative(DWORD native) {
  std::uint32_t bits = native & (kAttrReadOnly | kAttrHidden | kAttrSystem |
                                 kAttrFolder | kAttrArchive);
  if ((native & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    bits = (bits & ~static_cast<std::uint32_t>(kAttrFolder)) | kAttrLink;
  }
  return bits;
}

Status SetNative(const std::string& path, DWORD native) {
  native &= kSettableAttributes;
  if (native == 0) native = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileAttributesA(path.c_str(), native)) {
    return Fail("SetFileAttributes", path);
  }
  return Status();
}

// Opens an entry for its times only. Folders need backup semantics to be
// opened at all, and a reparse point is opened itself, never its target.
HANDLE OpenForTimes(const std::string& path, DWORD access) {
  return ::CreateFileA(
      path.c_str(), access,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr);
}

class Win32Listing : public DirectoryListing {
 public:
  // `handle` is an open search whose first entry is in `first`; an invalid
  // handle is an empty listing.
  Win32Listing(HANDLE handle, const WIN32_FIND_DATAA& first, std::string folder,
               std::string mask)
      : handle_(handle),
        data_(first),
        have_data_(handle != INVALID_HANDLE_VALUE),
        folder_(std::move(folder)),
        mask_(std::move(mask)) {}
  ~Win32Listing() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
  }

  bool Next(DirEntry* entry) override {
    while (have_data_) {
      std::string name = data_.cFileName;
      DWORD native = data_.dwFileAttributes;
      Advance();
      if (name == "." || name == ".." || !MatchesMask(mask_, name)) continue;
      entry->name = name;
      entry->attributes = BitsFromNative(native);
      return true;
    }
    return false;
  }

 private:
  void Advance() {
    if (::FindNextFileA(handle_, &data_)) return;
    have_data_ = false;
    // ERROR_NO_MORE_FILES (18) is the normal end of a listing; anything
    // else is a failure worth a message.
    if (::GetLastError() != ERROR_NO_MORE_FILES) {
      error_ = Fail("FindNextFile", folder_);
    }
  }

  HANDLE handle_;
  WIN32_FIND_DATAA data_;
  bool have_data_;
  std::string folder_;
  std::string mask_;
  Status error_;

 public:
  Status error() const override { return error_; }
};

}  // namespace

Status GetFileAttributes(const std::string& path, FileAttributes* attributes) {
  if (path.empty()) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return Fail("GetFileAttributes", path);
  }
  DWORD native = ::GetFileAttributesA(path.c_str());
  if (native == INVALID_FILE_ATTRIBUTES) {
    return Fail("GetFileAttributes", path);
  }
  attributes->bits = BitsFromNative(native);
  attributes->native = native;
  return Status();
}

// A reparse point (link, junction) is never changed through.
Status RefuseLink(const std::string& path) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  return Fail("SetFileAttributes", path);
}

Status RestoreFileAttributes(const std::string& path,
                             const FileAttributes& attributes) {
  DWORD now = ::GetFileAttributesA(path.c_str());
  if (now == INVALID_FILE_ATTRIBUTES) {
    return Fail("GetFileAttributes", path);
  }
  if ((now & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RefuseLink(path);
  if ((now & kSettableAttributes) ==
      (attributes.native & kSettableAttributes)) {
    return Status();
  }
  return SetNative(path, attributes.native);
}

bool CanReplaceFile(const std::string& path) {
  // A read-only file is what its owner asked a rewrite to leave alone;
  // access rights of the folder show only when the write is tried.
  DWORD now = ::GetFileAttributesA(path.c_str());
  const DWORD kept = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                     FILE_ATTRIBUTE_READONLY;
  return now != INVALID_FILE_ATTRIBUTES && (now & kept) == 0;
}

Status MakeFileWritable(const std::string& path) {
  DWORD now = ::GetFileAttributesA(path.c_str());
  if (now == INVALID_FILE_ATTRIBUTES) {
    return Fail("GetFileAttributes", path);
  }
  if ((now & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RefuseLink(path);
  if ((now & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    // A read-only folder cannot be removed; hidden and system do no harm.
    if ((now & FILE_ATTRIBUTE_READONLY) == 0) return Status();
    return SetNative(path, now & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  // A hidden or system file is as hard to replace as a read-only one, so a
  // file to be erased or written over gets the archive bit alone.
  constexpr DWORD kInTheWay =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if ((now & kInTheWay) == 0) return Status();
  return SetNative(path, FILE_ATTRIBUTE_ARCHIVE);
}

Status GetFileTime(const std::string& path, FileTime* time) {
  HANDLE h = OpenForTimes(path, FILE_READ_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE) return Fail("CreateFile", path);
  FILETIME written;
  BOOL ok = ::GetFileTime(h, nullptr, nullptr, &written);
  Status failed = ok ? Status() : Fail("GetFileTime", path);
  ::CloseHandle(h);
  if (!ok) return failed;
  FILETIME local;
  WORD dos_date = 0;
  WORD dos_time = 0;
  if (!::FileTimeToLocalFileTime(&written, &local) ||
      !::FileTimeToDosDateTime(&local, &dos_date, &dos_time)) {
    // Times before 1980 or after 2107 have no packed form.
    return Fail("FileTimeToDosDateTime", path);
  }
  time->seconds = (static_cast<std::int64_t>(dos_date) << 16) | dos_time;
  time->nanoseconds = 0;
  return Status();
}

Status SetFileTime(const std::string& path, const FileTime& time) {
  if (time.seconds < 0 || time.seconds > 0xFFFFFFFFll) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return Fail("SetFileTime", path);
  }
  WORD dos_date = static_cast<WORD>((time.seconds >> 16) & 0xFFFF);
  WORD dos_time = static_cast<WORD>(time.seconds & 0xFFFF);
  FILETIME local;
  FILETIME universal;
  if (!::DosDateTimeToFileTime(dos_date, dos_time, &local) ||
      !::LocalFileTimeToFileTime(&local, &universal)) {
    return Fail("DosDateTimeToFileTime", path);
  }
  HANDLE h = OpenForTimes(path, FILE_WRITE_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE) return Fail("CreateFile", path);
  BOOL ok = ::SetFileTime(h, nullptr, nullptr, &universal);
  Status result = ok ? Status() : Fail("SetFileTime", path);
  ::CloseHandle(h);
  return result;
}

Status ListFolder(const std::string& pattern,
                  std::unique_ptr<DirectoryListing>* listing) {
  std::string folder = PathFolder(pattern);
  std::string mask = PathFileName(pattern);
  // The whole folder is listed and the mask applied here, with the same
  // matching on every platform: the system's own matching also tries the
  // short 8.3 names, so "*.zip" would find "old.zipx".
  std::string search = WithBackslash(folder) + "*";
  WIN32_FIND_DATAA first = {};
  HANDLE h = ::FindFirstFileA(search.c_str(), &first);
  // A drive root has no "." or "..": empty, it lists nothing at all.
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return Fail("FindFirstFile", search);
  }
  listing->reset(new Win32Listing(h, first, folder, mask));
  return Status();
}

Status MakeFolder(const std::string& path) {
  if (!::CreateDirectoryA(path.c_str(), nullptr)) {
    return Fail("CreateDirectory", path);
  }
  return Status();
}

Status RemoveEmptyFolder(const std::string& path) {
  if (!::RemoveDirectoryA(path.c_str())) {
    return Fail("RemoveDirectory", path);
  }
  return Status();
}

Status EraseFile(const std::string& path) {
  DWORD native = ::GetFileAttributesA(path.c_str());
  if (native != INVALID_FILE_ATTRIBUTES &&
      (native & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if ((native & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return Fail("DeleteFile", path);
    }
    // A junction or a link to a folder is removed as a folder entry; that
    // takes the link away and leaves its target alone.
    if (!::RemoveDirectoryA(path.c_str())) {
      return Fail("RemoveDirectory", path);
    }
    return Status();
  }
  if (!::DeleteFileA(path.c_str())) return Fail("DeleteFile", path);
  return Status();
}

Status RenameFile(const std::string& source, const std::string& destination) {
  // Without MOVEFILE_COPY_ALLOWED a move to another volume fails instead of
  // copying behind the caller's back.
  if (!::MoveFileExA(source.c_str(), destination.c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
    return Fail("MoveFileEx", source + " -> " + destination);
  }
  return Status();
}

bool IsRootFolder(const std::string& path) {
  if (path.empty()) return false;
  // "\" or "\\" alone: the root of the current drive.
  if (path.find_first_not_of('\\') == std::string::npos) return true;
  // "C:\".
  if (path.size() == 3 && path[1] == ':' && path[2] == '\\') return true;
  // "\\server\share" with or without its final "\".
  if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
    std::string rest = NoTrailingBackslash(path.substr(2));
    std::size_t slash = rest.find('\\');
    return slash != std::string::npos && slash > 0 &&
           rest.find('\\', slash + 1) == std::string::npos &&
           slash + 1 < rest.size();
  }
  return false;
}

std::string GetCurrentFolder() {
  DWORD needed = ::GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return std::string();
  std::vector<char> buffer(needed + 1);
  DWORD n =
      ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n >= buffer.size()) return std::string();
  return std::string(buffer.data(), n);
}

Status FreeSpaceAt(const std::string& path, std::int64_t* bytes) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(path.c_str(), &available, nullptr, nullptr)) {
    return Fail("GetDiskFreeSpaceEx", path);
  }
  *bytes = static_cast<std::int64_t>(available.QuadPart);
  return Status();
}

// Win32 has no soft descriptor limit to raise.
void RaiseDescriptorLimit() {}

}  // namespace zavo
