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
  // allows) when it does not exist; what it holds stays. Programs this
  // process starts do not inherit it. Returns false with error() saying why.
  bool Open(const std::string& path);
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
