#include "fs/file_tree.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

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

Status ErrnoError(const std::string& what) {
  int code = errno;
  return Status::Error(what + ": " + std::strerror(code), code, code == ENOENT);
}

// Whether `path` can only be a mask: Win32 names never hold "*" or "?",
// POSIX names may ("*.zip" and "What?" are names like any other there).
bool OnlyAMask(const std::string& path) {
  return kIsWin32 && HasWildcards(path);
}

}  // namespace

bool FileExists(const std::string& path) {
  if (path.empty() || OnlyAMask(path)) return false;
  FileAttributes a;
  return GetFileAttributes(path, &a).ok() && (a.bits & kAttrFolder) == 0;
}

Status ReplaceFileContents(const std::string& path, const std::string& data) {
  FileAttributes attributes;
  bool existed = GetFileAttributes(path, &attributes).ok();
  if (existed && (attributes.bits & kAttrFolder) != 0) {
    return Status::Error(path + " is a folder");
  }
  std::string temp;
  std::FILE* out = CreateExclusive(&temp, path);
  if (out == nullptr) return ErrnoError("create(" + temp + ")");
  // The data is on the disk before the rename publishes it, and the rename
  // is on the disk before the caller goes on: a power loss leaves the old
  // file or the whole new one, never an empty one under the name.
  bool ok = std::fwrite(data.data(), 1, data.size(), out) == data.size();
  if (ok && !FlushToDisk(out)) ok = false;
  if (std::fclose(out) != 0) ok = false;
  if (!ok) {
    EraseFile(temp);
    return Status::Error("write(" + temp + ") failed");
  }
  if (existed && (attributes.bits & kAttrLink) == 0) {
    RestoreFileAttributes(temp, attributes);
  }
  Status renamed = RenameFile(temp, path);
  if (!renamed.ok()) {
    EraseFile(temp);
    return renamed;
  }
  if (!FlushFolderOf(path)) {
    return Status::Error("fsync(folder of " + path + ") failed");
  }
  return Status();
}

Status ReadWholeFile(const std::string& path, std::string* data) {
  data->clear();
  std::FILE* in = OpenFile(path, FileOpenMode::kRead);
  if (in == nullptr) return ErrnoError("open(" + path + ")");
  char buffer[65536];
  for (;;) {
    std::size_t got = std::fread(buffer, 1, sizeof(buffer), in);
    data->append(buffer, got);
    if (got < sizeof(buffer)) break;
  }
  bool failed = std::ferror(in) != 0;
  Status result = failed ? ErrnoError("read(" + path + ")") : Status();
  std::fclose(in);
  return result;
}

}  // namespace zavo
