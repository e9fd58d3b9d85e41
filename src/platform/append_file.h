// A file that several writers, in this process and in others, append whole
// records to: each record goes to the end of the file with one system call,
// so that records never interleave and a writer killed at any moment leaves
// only whole records behind it.

#ifndef ZAVO_PLATFORM_APPEND_FILE_H_
#define ZAVO_PLATFORM_APPEND_FILE_H_

#include <cstdint>
#include <string>

namespace zavo {

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens path for appending, creating it (readable by everyone the umask
  // allows) when it does not exist; what it holds stays. The path's last
  // part must not be a link, and what it names must be a regular file
  // (POSIX). Programs this process starts do not inherit it. Returns false
  // with error() saying why.
  bool Open(const std::string& path);
  // Takes the report a parent process handed on as `handle` (POSIX: an
  // inherited descriptor open for appending to a regular file), shown as
  // `path`. Win32: opens `path` as Open does.
  bool Adopt(std::intptr_t handle, const std::string& path);
  // The handle to hand a child (ChildSpec::inherit); -1 on Win32.
  std::intptr_t handle() const;
  void Close();
  bool is_open() const;

  // Writes data at the end of the file in one write: on a local file
  // system no other appender's record comes between its bytes. Nothing is
  // kept in a buffer of this process. Returns false with error() when the
  // write failed or was short (a full disk); a short write may leave a part
  // of the record, which the next Append starts a new line after.
  bool Append(const std::string& data);

  // The file's current size; -1 when it cannot be told (a pipe, a device).
  std::int64_t Size();

  // Reads the bytes from offset to the current end into *data. Returns
  // false when the file cannot be read back (not a regular file, or opened
  // without read permission).
  bool ReadFrom(std::int64_t offset, std::string* data);

  const std::string& error() const { return error_; }

 private:
  bool CheckRegular();
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool readable_ = false;
  // A short write left a record without its line end.
  bool torn_ = false;
  std::string path_;
  std::string error_;
};

}  // namespace zavo

#endif  // ZAVO_PLATFORM_APPEND_FILE_H_
