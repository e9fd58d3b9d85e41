// A buffered file stream and the line reading and writing done on it.

#ifndef ZAVO_FS_BYTE_STREAM_H_
#define ZAVO_FS_BYTE_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "text/text_utils.h"

namespace zavo {

// A file read or written through a 4096-byte buffer. Reading past the end
// sets the error state, which makes every further read fail until
// ClearError(). The stream closes its file when destroyed.
class ByteStream {
 public:
  enum class Mode { kRead, kCreate };

  ByteStream() = default;
  ~ByteStream();
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  // Opens path for shared reading, or creates (empties) it for writing.
  // Returns false with error() describing why when it cannot.
  bool Open(const std::string& path, Mode mode);
  // Flushes and closes; returns false when a write or the close failed.
  bool Close();
  bool is_open() const { return file_ != nullptr; }

  // Reads up to n bytes; returns how many were read. Reading fewer than n
  // sets the error state (end of file or a read error).
  std::size_t Read(void* data, std::size_t n);
  // Writes n bytes; returns false (and remembers it) when they could not be
  // written.
  bool Write(const void* data, std::size_t n);

  std::int64_t Position() const { return position_; }
  std::int64_t Size();
  bool Seek(std::int64_t position);

  bool failed() const { return failed_; }
  void ClearError() { failed_ = false; }
  // True after a read error other than the end of the file, or a failed
  // write: the data seen or written is not the whole file.
  bool io_error() const { return io_error_; }
  const std::string& error() const { return error_; }

 private:
  bool FlushWrites();

  std::FILE* file_ = nullptr;
  Mode mode_ = Mode::kRead;
  std::string path_;
  unsigned char buffer_[4096];
  std::size_t buffer_pos_ = 0;     // next byte to read, or bytes pending write
  std::size_t buffer_len_ = 0;     // bytes valid in the buffer when reading
  std::int64_t buffer_start_ = 0;  // file position of buffer_[0]
  std::int64_t position_ = 0;
  bool failed_ = false;
  bool io_error_ = false;
  std::string error_;
};

// Reads one line: CR, LF, CR LF or LF CR end it; the last line needs no end.
// Only the first `limit` characters are kept; *cut tells whether more were
// read and dropped. *line_end, when given, receives the bytes that ended the
// line (empty for a last line without an end). At the end of the stream the
// error state is cleared and the position is the size, so callers loop
// while Position() < Size().
void ReadTextLine(ByteStream* stream, std::string* text,
                  std::size_t limit = kMaxText, bool* cut = nullptr,
                  std::string* line_end = nullptr);

// Writes first and then second, as bytes; callers pass "\r\n" as second to
// end a line. Returns false when the write failed.
bool WriteTexts(ByteStream* stream, const std::string& first,
                const std::string& second);

}  // namespace zavo

#endif  // ZAVO_FS_BYTE_STREAM_H_
