#include "fs/file_tree.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

constexpr std::size_t kCopyBlock = 65535;

bool IsDriveName(const std::string& text) {
  return kHasDrives && text.size() == 2 && text[1] == ':';
}

// A name for a new file beside `path` that nothing else uses: the work of a
// moment, created exclusively, so a clash only costs a retry.
std::string TempNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  auto ticks = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[40];
  std::snprintf(suffix, sizeof(suffix), ".%08llx%04x.zvt",
                ticks & 0xFFFFFFFFull, (counter++ & 0xFFFFu));
  return WithBackslash(PathFolder(path)) + "." + PathFileName(path) + suffix;
}

// Opens a new file exclusively: it never opens an existing file or follows
// a link that appeared under the name.
std::FILE* CreateExclusive(std::string* name, const std::string& beside) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    *name = TempNameBeside(beside);
    std::FILE* f = OpenFile(*name, FileOpenMode::kCreateNew);
    if (f != nullptr) return f;
  }
  return nullptr;
}

bool SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

long long FileSize(const std::string& path) {
  std::FILE* f = OpenFile(path, FileOpenMode::kRead);
  if (f == nullptr) return -1;
  long long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  std::fclose(f);
  return size;
}

bool IsReadOnlyFile(const std::string& path) {
  FileAttributes a;
  return GetFileAttributes(path, &a) && (a.bits & kAttrReadOnly) != 0 &&
         (a.bits & (kAttrLink | kAttrFolder)) == 0;
}

}  // namespace

namespace {

// Whether `path` can only be a mask: Win32 names never hold "*" or "?",
// POSIX names may ("*.zip" and "What?" are names like any other there).
bool OnlyAMask(const std::string& path) {
  return kIsWin32 && HasWildcards(path);
}

}  // namespace

bool FileExists(const std::string& path) {
  if (path.empty() || OnlyAMask(path)) return false;
  FileAttributes a;
  return GetFileAttributes(path, &a) && (a.bits & kAttrFolder) == 0;
}

bool FolderExists(const std::string& path) {
  std::string p = NoTrailingBackslash(path);
  if (p.empty() && !path.empty()) p = path;  // the root itself
  if (p.empty() || IsDriveName(p)) p += ".";
  if (OnlyAMask(p)) return false;
  FileAttributes a;
  if (!GetFileAttributes(p, &a)) return false;
  if ((a.bits & kAttrFolder) != 0) return true;
  // A link to a folder stands for that folder in a path the user gave; it
  // is never descended into by removal or the scan, which look at the link
  // bit of listing entries instead.
  if ((a.bits & kAttrLink) != 0) {
    auto listing = ListFolder(WithBackslash(p) + "*.*");
    return listing != nullptr;
  }
  return false;
}

bool ForceFolders(const std::string& path) {
  std::string folder = PathFolder(path);
  if (!path.empty() && path.back() == kPathSeparator) folder = path;
  if (folder.empty() || IsDriveName(folder)) return true;
  folder = WithBackslash(folder);
  // Walk every component; empty ones (a leading root separator, doubled
  // separators) add to the path but create nothing.
  std::string built;
  std::size_t start = 0;
  while (start < folder.size()) {
    std::size_t end = folder.find(kPathSeparator, start);
    if (end == std::string::npos) end = folder.size();
    std::string component = folder.substr(start, end - start);
    built += component;
    if (!component.empty() && !IsDriveName(built) && !FolderExists(built)) {
      if (!MakeFolder(built) && !FolderExists(built)) return false;
    }
    built += kPathSeparator;
    start = end + 1;
  }
  return true;
}

bool RemoveTree(const std::string& folder, bool recurse) {
  if (folder.empty() || IsRootFolder(folder) || IsDriveName(folder)) {
    return false;
  }
  FileAttributes self;
  if (!GetFileAttributes(folder, &self)) return true;
  // Never descend through a link, even when it is handed in as the folder.
  if ((self.bits & kAttrFolder) == 0) return false;
  // A folder unpacked without write or search permission would keep its
  // entries; the converter made it, so it may open it up to clear it.
  MakeFileWritable(folder);
  std::vector<DirEntry> entries;
  {
    auto listing = ListFolder(WithBackslash(folder) + "*.*");
    if (listing == nullptr) return false;
    DirEntry entry;
    while (listing->Next(&entry)) entries.push_back(entry);
  }
  for (const DirEntry& entry : entries) {
    std::string path = WithBackslash(folder) + entry.name;
    if ((entry.attributes & kAttrFolder) != 0) {
      if (recurse) RemoveTree(path, true);
    } else if (entry.attributes != kAttrVolume) {
      MakeFileWritable(path);
      EraseFile(path);
    }
  }
  RemoveEmptyFolder(folder);
  return !FolderExists(folder) && !FileExists(folder);
}

bool CopyFileTo(const std::string& source, const std::string& destination,
                bool append) {
  if (!FileExists(source) || SamePath(source, destination)) return false;
  FileAttributes attributes;
  FileTime time;
  bool have_attributes = GetFileAttributes(source, &attributes);
  bool have_time = GetFileTime(source, &time);
  if (IsReadOnlyFile(destination)) return false;
  FileAttributes destination_attributes;
  if (GetFileAttributes(destination, &destination_attributes) &&
      (destination_attributes.bits & kAttrFolder) != 0) {
    return false;
  }

  std::FILE* in = OpenFile(source, FileOpenMode::kRead);
  if (in == nullptr) return false;
  std::string temp;
  std::FILE* out = nullptr;
  if (append && FileExists(destination) &&
      (destination_attributes.bits & kAttrLink) == 0) {
    temp = destination;
    out = OpenFile(destination, FileOpenMode::kAppend);
  } else {
    append = false;
    out = CreateExclusive(&temp, destination);
  }
  if (out == nullptr) {
    std::fclose(in);
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[kCopyBlock]);
  bool ok = true;
  for (;;) {
    std::size_t got = std::fread(buffer.get(), 1, kCopyBlock, in);
    if (got == 0) {
      ok = !std::ferror(in);
      break;
    }
    if (std::fwrite(buffer.get(), 1, got, out) != got) {
      ok = false;
      break;
    }
  }
  std::fclose(in);
  if (std::fclose(out) != 0) ok = false;
  if (!ok) {
    if (!append) EraseFile(temp);
    return false;
  }
  if (have_time) SetFileTime(temp, time);
  if (have_attributes) RestoreFileAttributes(temp, attributes);
  if (append) return true;
  bool cross_device = false;
  if (!RenameFile(temp, destination, &cross_device)) {
    EraseFile(temp);
    return false;
  }
  return true;
}

bool MoveFileTo(const std::string& source, const std::string& destination) {
  if (!FileExists(source) || SamePath(source, destination)) return false;
  std::string destination_folder = WithBackslash(PathFolder(destination));
  if (!destination_folder.empty() && !ForceFolders(destination_folder)) {
    return false;
  }
  FileAttributes existing;
  if (GetFileAttributes(destination, &existing)) {
    if ((existing.bits & kAttrFolder) != 0) return false;
    if ((existing.bits & (kAttrReadOnly | kAttrLink)) == kAttrReadOnly) {
      return false;
    }
  }
  bool cross_device = false;
  if (RenameFile(source, destination, &cross_device)) return true;
  if (!cross_device) return false;
  // Across file systems: the copy lands whole under the final name (it is
  // renamed over it) before the source goes, and only when the sizes agree.
  long long size = FileSize(source);
  if (size < 0 || !CopyFileTo(source, destination, false)) return false;
  if (FileSize(destination) != size) return false;
  return RemoveFile(source);
}

bool RemoveFile(const std::string& path) {
  if (!FileExists(path)) return !FolderExists(path) || path.empty();
  if (IsReadOnlyFile(path)) return false;
  EraseFile(path);
  return !FileExists(path);
}

bool ReplaceFileContents(const std::string& path, const std::string& data,
                         std::string* error) {
  FileAttributes attributes;
  bool existed = GetFileAttributes(path, &attributes);
  if (existed && (attributes.bits & kAttrFolder) != 0) {
    return SetError(error, path + " is a folder");
  }
  std::string temp;
  std::FILE* out = CreateExclusive(&temp, path);
  if (out == nullptr) {
    return SetError(error, "create(" + temp + "): " + std::strerror(errno));
  }
  // The data is on the disk before the rename publishes it, and the rename
  // is on the disk before the caller goes on: a power loss leaves the old
  // file or the whole new one, never an empty one under the name.
  bool ok = std::fwrite(data.data(), 1, data.size(), out) == data.size();
  if (ok && !FlushToDisk(out)) ok = false;
  if (std::fclose(out) != 0) ok = false;
  if (!ok) {
    EraseFile(temp);
    return SetError(error, "write(" + temp + ") failed");
  }
  if (existed && (attributes.bits & kAttrLink) == 0) {
    RestoreFileAttributes(temp, attributes);
  }
  bool cross_device = false;
  if (!RenameFile(temp, path, &cross_device)) {
    std::string why = LastSystemError();
    EraseFile(temp);
    return SetError(error, why);
  }
  if (!FlushFolderOf(path)) {
    return SetError(error, "fsync(folder of " + path + ") failed");
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* data,
                   std::string* error) {
  data->clear();
  std::FILE* in = OpenFile(path, FileOpenMode::kRead);
  if (in == nullptr) {
    return SetError(error, "open(" + path + "): " + std::strerror(errno));
  }
  char buffer[65536];
  for (;;) {
    std::size_t got = std::fread(buffer, 1, sizeof(buffer), in);
    data->append(buffer, got);
    if (got < sizeof(buffer)) break;
  }
  bool ok = !std::ferror(in);
  int read_error = errno;
  std::fclose(in);
  if (!ok) {
    return SetError(error, "read(" + path + "): " + std::strerror(read_error));
  }
  return true;
}

std::string ErrorReason(const std::string& error) {
  std::size_t at = error.rfind("): ");
  return at == std::string::npos ? error : error.substr(at + 3);
}

}  // namespace zavo
